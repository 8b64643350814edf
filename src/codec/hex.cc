#include "codec/hex.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "codec/simd_dispatch.h"
#include "codec/simd_kernels.h"

namespace kel {
namespace {

constexpr int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The white space that strtol skips in the "C" locale. The table below is
// fixed here rather than taken from strtol so that the host's locale cannot
// change the result.
constexpr bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr unsigned char PairValue(unsigned char first, unsigned char second) {
  int value = 0;
  if (IsSpace(first) || first == '+' || first == '-') {
    // One character is left, and it alone can be a digit.
    int digit = DigitValue(second);
    value = digit < 0 ? 0 : digit;
    if (first == '-') value = -value;
  } else if (DigitValue(first) >= 0) {
    // "0x" is no prefix here: with no digit behind it, strtol reads the 0.
    int low = DigitValue(second);
    value = low < 0 ? DigitValue(first) : DigitValue(first) * 16 + low;
  }
  return static_cast<unsigned char>(value & 0xFF);
}

// Every pair of characters, looked up with one load per output byte.
struct DecodeTable {
  std::array<unsigned char, 65536> bytes{};
  constexpr DecodeTable() {
    for (int first = 0; first < 256; ++first) {
      for (int second = 0; second < 256; ++second) {
        bytes[(first << 8) | second] =
            PairValue(static_cast<unsigned char>(first), static_cast<unsigned char>(second));
      }
    }
  }
};

const DecodeTable &Decoding() {
  static const DecodeTable table;
  return table;
}

struct EncodeTable {
  std::array<char, 512> chars{};
  constexpr EncodeTable() {
    constexpr char kDigits[] = "0123456789abcdef";
    for (int b = 0; b < 256; ++b) {
      chars[2 * b] = kDigits[b >> 4];
      chars[2 * b + 1] = kDigits[b & 0x0F];
    }
  }
};
constexpr EncodeTable kEncode;

}  // namespace

unsigned char HexPairValue(unsigned char first, unsigned char second) {
  return PairValue(first, second);
}

void HexEncode(char *hex, const unsigned char *bytes, std::size_t count) {
  if (count == 0) return;
  std::size_t i = UseAvx2Codecs() ? HexEncodeBlocksAvx2(hex, bytes, count) : 0;
  for (; i < count; ++i) std::memcpy(hex + 2 * i, &kEncode.chars[2 * bytes[i]], 2);
  hex[2 * count] = '\0';
}

void HexDecode(unsigned char *bytes, const char *hex, std::size_t count) {
  const auto &table = Decoding().bytes;
  auto in = reinterpret_cast<const unsigned char *>(hex);
  std::size_t pairs = count / 2;
  const bool wide = UseAvx2Codecs();
  std::size_t i = 0;
  while (i < pairs) {
    // The kernel takes blocks of plain hex digits; a block with anything else
    // in it (white space, a sign, a stray letter) goes through the table,
    // which holds the full rule for every pair.
    if (wide) i += HexDecodeBlocksAvx2(bytes + i, in + 2 * i, pairs - i);
    std::size_t stop = pairs - i < 16 ? pairs : i + 16;
    for (; i < stop; ++i) bytes[i] = table[(in[2 * i] << 8) | in[2 * i + 1]];
  }
}

}  // namespace kel
