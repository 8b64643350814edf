// Base64 (standard alphabet, '=' padding) with the library's decoding rules.
#ifndef KEL_CODEC_BASE64_H_
#define KEL_CODEC_BASE64_H_

#include <cstddef>

namespace kel {

// Writes 4 * ceil(count / 3) characters and a terminating zero into `text`.
// A count of 0 or less writes only the terminator.
void Base64Encode(char *text, const unsigned char *bytes, int count);

// Decodes the zero-terminated `text` into `bytes`, writing at most `limit`
// bytes when `limit` is not 0. A leading "+ " is skipped; a text that then
// starts with a carriage return gives 0. Decoding goes group by group: each
// group of four characters is validated before any of its bytes is written,
// and ends the text when it ends in '=' or is followed by the terminator or a
// carriage return. Returns the number of bytes written, or -1 for an invalid
// text or one that needs more than `limit` bytes (bytes written before the
// failure stay in `bytes`).
int Base64Decode(unsigned char *bytes, const char *text, int limit);

}  // namespace kel

#endif  // KEL_CODEC_BASE64_H_
