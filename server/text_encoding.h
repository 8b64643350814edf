// The text encoding of the server's own files (the seal registry and the
// record log), and the conversion between it and GBK, the encoding in which
// Kel's hosts send and read every text.
#ifndef KEL_SERVER_TEXT_ENCODING_H_
#define KEL_SERVER_TEXT_ENCODING_H_

#include <string>

namespace kel::server {

enum class TextEncoding { kUtf8, kGbk };

// "utf-8" or "gbk", and back.
const char *EncodingName(TextEncoding encoding);
bool ParseEncoding(const std::string &name, TextEncoding *encoding);

// `text` in `from` as GBK. False when it is not valid in `from` or holds a
// character that GBK cannot write. GBK text is taken as it is.
bool ToGbk(const std::string &text, TextEncoding from, std::string *gbk);

// GBK `text` written in `to` as one field of a tab-separated line: tabs,
// line ends and backslashes become \t, \n, \r and \\, and every other
// control byte (0x00 to 0x1F, and 0x7F) \xHH, so that nothing a client sent
// acts on the terminal of an operator reading the log. Only single-byte
// characters are escaped, never the second byte of a GBK character (which
// may be 0x5C, the backslash). In UTF-8, a byte that starts no valid GBK
// character is written as \xHH, so that nothing a client sent is lost or
// passed on as invalid UTF-8; in GBK such bytes are kept as sent.
std::string FieldFromGbk(const std::string &gbk, TextEncoding to);

bool IsUtf8(const std::string &text);

}  // namespace kel::server

#endif  // KEL_SERVER_TEXT_ENCODING_H_
