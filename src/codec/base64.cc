#include "codec/base64.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#include "codec/simd_dispatch.h"
#include "codec/simd_kernels.h"

namespace kel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, so that three input bytes
// become four characters with two lookups and no per-byte branching.
struct PairTable {
  std::array<char, 2 * 4096> chars{};
  constexpr PairTable() {
    for (int value = 0; value < 4096; ++value) {
      chars[2 * value] = kAlphabet[value >> 6];
      chars[2 * value + 1] = kAlphabet[value & 0x3F];
    }
  }
};
constexpr PairTable kPairs;

// Decoding tables: the value of each character already shifted into its place
// in the 24-bit group, or kInvalid. '=' and every code from 0x80 up are
// invalid here; the group-by-group path deals with padding.
constexpr std::uint32_t kInvalid = 0x80000000u;
struct DecodeTables {
  std::array<std::uint32_t, 256> shifted[4]{};
  std::array<std::int8_t, 256> value{};
  constexpr DecodeTables() {
    for (int c = 0; c < 256; ++c) {
      value[c] = -1;
      for (auto &table : shifted) table[c] = kInvalid;
    }
    for (int v = 0; v < 64; ++v) {
      auto c = static_cast<unsigned char>(kAlphabet[v]);
      value[c] = static_cast<std::int8_t>(v);
      shifted[0][c] = static_cast<std::uint32_t>(v) << 18;
      shifted[1][c] = static_cast<std::uint32_t>(v) << 12;
      shifted[2][c] = static_cast<std::uint32_t>(v) << 6;
      shifted[3][c] = static_cast<std::uint32_t>(v);
    }
  }
};
constexpr DecodeTables kDecode;

inline bool IsValid(unsigned char c) { return kDecode.value[c] >= 0; }
inline std::uint32_t Val(unsigned char c) { return static_cast<std::uint32_t>(kDecode.value[c]); }

inline void EncodeGroup(char *out, const unsigned char *in) {
  std::uint32_t group = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, &kPairs.chars[2 * (group >> 12)], 2);
  std::memcpy(out + 2, &kPairs.chars[2 * (group & 0xFFF)], 2);
}

}  // namespace

void Base64Encode(char *text, const unsigned char *bytes, int count) {
  std::size_t remaining = count > 0 ? static_cast<std::size_t>(count) : 0;
  if (UseAvx2Codecs()) {
    std::size_t done = Base64EncodeBlocksAvx2(text, bytes, remaining);
    text += done / 3 * 4;
    bytes += done;
    remaining -= done;
  }
  // Four groups per step keeps the loop overhead small on long inputs.
  while (remaining >= 12) {
    EncodeGroup(text, bytes);
    EncodeGroup(text + 4, bytes + 3);
    EncodeGroup(text + 8, bytes + 6);
    EncodeGroup(text + 12, bytes + 9);
    text += 16;
    bytes += 12;
    remaining -= 12;
  }
  while (remaining >= 3) {
    EncodeGroup(text, bytes);
    text += 4;
    bytes += 3;
    remaining -= 3;
  }
  if (remaining == 1) {
    text[0] = kAlphabet[bytes[0] >> 2];
    text[1] = kAlphabet[(bytes[0] & 0x03) << 4];
    text[2] = '=';
    text[3] = '=';
    text += 4;
  } else if (remaining == 2) {
    text[0] = kAlphabet[bytes[0] >> 2];
    text[1] = kAlphabet[((bytes[0] & 0x03) << 4) | (bytes[1] >> 4)];
    text[2] = kAlphabet[(bytes[1] & 0x0F) << 2];
    text[3] = '=';
    text += 4;
  }
  *text = '\0';
}

int Base64Decode(unsigned char *bytes, const char *text, int limit) {
  return Base64DecodeAtMost(bytes, text, limit, INT_MAX);
}

int Base64DecodeAtMost(unsigned char *bytes, const char *text, int limit, int max_count) {
  // The count is returned as an int: a text without a limit of its own is
  // held to what an int can count (more than 2 GiB of output is possible
  // from a 64-bit host's text).
  if (limit == 0 || limit > max_count) limit = max_count;
  auto p = reinterpret_cast<const unsigned char *>(text);
  if (p[0] == '+' && p[1] == ' ') p += 2;
  if (p[0] == '\r') return 0;

  // The terminator is found once, so that the fast loop can take whole groups
  // without testing each character for the end of the text.
  const bool wide = UseAvx2Codecs();
  const auto *chars = reinterpret_cast<const char *>(p);
#if defined(_WIN32)
  // msvcrt's strlen takes longer than the whole decoding; the AVX2 scan
  // reads aligned blocks around the text (never across a page), which
  // memory checkers on other systems would flag, where strlen is fast anyway.
  const unsigned char *end = p + (wide ? TextLengthAvx2(chars) : std::strlen(chars));
#else
  const unsigned char *end = p + std::strlen(chars);
#endif
  std::int64_t n = 0;
  // Room for a whole group under the limit; a negative limit has none.
  auto room_for_group = [&] { return limit == 0 || (limit > 0 && n + 3 <= limit); };
  auto over_limit = [&] { return limit != 0 && n > limit; };

  for (;;) {
    // Whole blocks of eight groups, when each of their characters is in the
    // alphabet and the limit leaves room for all of their bytes. No group in
    // such a block can end the text, so only the character behind it counts.
    if (wide && (limit == 0 || limit - n >= 24)) {
      std::size_t length = static_cast<std::size_t>(end - p);
      if (limit != 0) {
        std::size_t groups = static_cast<std::size_t>((limit - n) / 3);
        if (length > 4 * groups) length = 4 * groups;
      }
      std::size_t used = Base64DecodeBlocksAvx2(bytes + n, p, length);
      if (used != 0) {
        n += static_cast<std::int64_t>(used / 4 * 3);
        p += used;
        if (*p == '\0' || *p == '\r') return static_cast<int>(n);
      }
    }

    // Fast path: four characters of the alphabet, three bytes out.
    while (end - p >= 4 && room_for_group()) {
      std::uint32_t group = kDecode.shifted[0][p[0]] | kDecode.shifted[1][p[1]] |
                            kDecode.shifted[2][p[2]] | kDecode.shifted[3][p[3]];
      if (group & kInvalid) break;
      bytes[n] = static_cast<unsigned char>(group >> 16);
      bytes[n + 1] = static_cast<unsigned char>(group >> 8);
      bytes[n + 2] = static_cast<unsigned char>(group);
      n += 3;
      p += 4;
      if (*p == '\0' || *p == '\r') return static_cast<int>(n);
    }

    // One group, character by character: padding, the end of the text inside
    // a group, invalid characters and the limit. Each character is read only
    // after the one before it was found not to be the terminator.
    unsigned char c1 = p[0];
    if (!IsValid(c1)) return -1;
    unsigned char c2 = p[1];
    if (!IsValid(c2)) return -1;
    unsigned char c3 = p[2];
    if (c3 != '=' && !IsValid(c3)) return -1;
    unsigned char c4 = p[3];
    if (c4 != '=' && !IsValid(c4)) return -1;

    if (++n, over_limit()) return -1;
    bytes[n - 1] = static_cast<unsigned char>((Val(c1) << 2) | (Val(c2) >> 4));
    if (c3 != '=') {
      if (++n, over_limit()) return -1;
      bytes[n - 1] = static_cast<unsigned char>((Val(c2) << 4) | (Val(c3) >> 2));
      if (c4 != '=') {
        if (++n, over_limit()) return -1;
        bytes[n - 1] = static_cast<unsigned char>((Val(c3) << 6) | Val(c4));
      }
    }
    p += 4;
    if (*p == '\0' || *p == '\r' || c4 == '=') return static_cast<int>(n);
  }
}

}  // namespace kel
