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
// text, one that needs more than `limit` bytes, or one that needs more than
// an int can count (bytes written before the failure stay in `bytes`).
int Base64Decode(unsigned char *bytes, const char *text, int limit);

// Base64Decode with the largest count it may return as a parameter (1 or
// more; Base64Decode passes INT_MAX): a text that needs more bytes fails like
// one over the limit, without a byte written past `max_count`. Lets the bound
// be tested with short texts.
int Base64DecodeAtMost(unsigned char *bytes, const char *text, int limit, int max_count);

}  // namespace kel

#endif  // KEL_CODEC_BASE64_H_
