// Conversion between the library's GBK texts and the terminal's encoding.
//
// The library takes and gives narrow texts in the host's code page, GBK for
// Chinese text, and its own messages are GBK bytes. kel converts what it
// prints from GBK to the terminal's character set and the texts it is given
// from the terminal's character set to GBK, so that a name typed on a UTF-8
// terminal reaches the server as the GBK bytes a Windows host would send.
#ifndef KEL_TOOLS_KEL_TERMINAL_TEXT_H_
#define KEL_TOOLS_KEL_TERMINAL_TEXT_H_

#include <string>

namespace kel::cli {

// The character set of the terminal from the locale (call setlocale first).
// The C and POSIX locales, whose character set is plain ASCII, and character
// sets that iconv does not know are taken as UTF-8.
std::string TerminalCodeset();

class TerminalText {
 public:
  explicit TerminalText(std::string codeset) : codeset_(std::move(codeset)) {}

  const std::string &codeset() const { return codeset_; }

  // GBK bytes for printing on the terminal. Characters the terminal cannot
  // show are approximated by iconv; bytes that are not GBK appear as \xNN.
  std::string FromGbk(const std::string &gbk) const;

  // GBK bytes as UTF-8, for JSON output (\xNN for bytes that are not GBK).
  static std::string GbkToUtf8(const std::string &gbk);

  // Terminal text as UTF-8, for JSON output.
  std::string ToUtf8(const std::string &text) const;

  // A text typed on the terminal as GBK bytes. False when it holds a
  // character that GBK has not got or bytes that are not in the terminal's
  // character set.
  bool ToGbk(const std::string &text, std::string *gbk) const;

 private:
  std::string codeset_;
};

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_TERMINAL_TEXT_H_
