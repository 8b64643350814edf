// Hexadecimal conversion with the library's rules for odd input.
#ifndef KEL_CODEC_HEX_H_
#define KEL_CODEC_HEX_H_

#include <cstddef>

namespace kel {

// Writes 2 * count lowercase digits followed by a zero byte; nothing at all
// when count is 0.
void HexEncode(char *hex, const unsigned char *bytes, std::size_t count);

// Writes count / 2 bytes. Each pair of characters is converted the way
// strtol(pair, nullptr, 16) converts a text of exactly those two characters
// (leading white space skipped, a sign accepted, conversion stops at the
// first non-digit) and the low 8 bits are kept. An odd last character is
// ignored.
void HexDecode(unsigned char *bytes, const char *hex, std::size_t count);

// The byte that one pair converts to, by the rule above.
unsigned char HexPairValue(unsigned char first, unsigned char second);

}  // namespace kel

#endif  // KEL_CODEC_HEX_H_
