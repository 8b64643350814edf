// The AVX2 kernels. They are compiled for AVX2 function by function, so the
// rest of the library keeps the baseline instruction set and runs anywhere.
//
// Base64 follows the well-known vector scheme: bytes are spread into 6-bit
// indices with multiplies and mapped to characters with one table lookup per
// register; characters are mapped back and validated through two nibble
// tables, then packed with multiply-adds.
#include "codec/simd_kernels.h"

#if KEL_HAVE_AVX2_KERNELS

#include <immintrin.h>

#include <cstdint>

#define KEL_AVX2 __attribute__((target("avx2")))
// For the terminator scan, whose aligned loads may cover bytes past the end
// of the text's allocation (never past its page).
#define KEL_NO_ASAN __attribute__((no_sanitize_address))

namespace kel {
namespace {

// Six-bit indices, one per byte, to base64 characters.
KEL_AVX2 inline __m256i IndicesToCharacters(__m256i indices) {
  // 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12: the row of
  // the offset table that turns the index into its character.
  __m256i row = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
  __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
  row = _mm256_or_si256(row, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i offsets =
      _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                       'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, row), indices);
}

// One bit per zero byte of the aligned 32-byte block at `address`.
KEL_AVX2 KEL_NO_ASAN inline std::uint32_t ZerosInBlock(std::uintptr_t address) {
  __m256i chars = _mm256_load_si256(reinterpret_cast<const __m256i *>(address));
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(chars, _mm256_setzero_si256())));
}

}  // namespace

KEL_AVX2 std::size_t Base64EncodeBlocksAvx2(char *text, const unsigned char *bytes,
                                            std::size_t count) {
  // Per 128-bit lane, each group of three bytes s0 s1 s2 becomes the 32-bit
  // word s1 s0 s2 s1, from which multiplies cut the four indices.
  const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0,
                                          2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  std::size_t done = 0;
  while (count - done >= 28) {
    const unsigned char *in = bytes + done;
    __m256i block = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 12)), 1);
    block = _mm256_shuffle_epi8(block, spread);
    __m256i first_third = _mm256_mulhi_epu16(_mm256_and_si256(block, _mm256_set1_epi32(0x0fc0fc00)),
                                             _mm256_set1_epi32(0x04000040));
    __m256i second_fourth = _mm256_mullo_epi16(
        _mm256_and_si256(block, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
    __m256i characters = IndicesToCharacters(_mm256_or_si256(first_third, second_fourth));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(text + done / 3 * 4), characters);
    done += 24;
  }
  return done;
}

KEL_AVX2 std::size_t Base64DecodeBlocksAvx2(unsigned char *bytes, const unsigned char *text,
                                            std::size_t length) {
  // Nibble tables: a character is in the alphabet exactly when the entries of
  // its low and its high nibble share no bit. Every code from 0x80 up has a
  // high-nibble entry of 0x10, which every low-nibble entry has too.
  const __m256i low_table =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                       0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i high_table =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // What to add to a valid character, by its high nibble ('/' shares the
  // high nibble of '+' and takes the entry before it).
  const __m256i offsets =
      _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                       -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i slash = _mm256_set1_epi8(0x2F);
  // Per lane, the three bytes of each 32-bit group, most significant first.
  const __m256i gather = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i join_lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);

  std::size_t done = 0;
  while (length - done >= 32) {
    __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + done));
    // Only the low four bits of an index and its top bit matter to the
    // lookups; the mask keeps 0x2F so that the constant serves twice.
    __m256i high_nibbles = _mm256_and_si256(_mm256_srli_epi32(chars, 4), slash);
    __m256i low_nibbles = _mm256_and_si256(chars, slash);
    __m256i low = _mm256_shuffle_epi8(low_table, low_nibbles);
    __m256i high = _mm256_shuffle_epi8(high_table, high_nibbles);
    if (!_mm256_testz_si256(low, high)) break;
    __m256i is_slash = _mm256_cmpeq_epi8(chars, slash);
    __m256i values = _mm256_add_epi8(
        chars, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(is_slash, high_nibbles)));
    // Four 6-bit values -> one 24-bit group per 32-bit word.
    __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(groups, gather), join_lanes);
    unsigned char *out = bytes + done / 4 * 3;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(packed, 1));
    done += 32;
  }
  return done;
}

KEL_AVX2 KEL_NO_ASAN std::size_t TextLengthAvx2(const char *text) {
  const auto start = reinterpret_cast<std::uintptr_t>(text);
  std::uintptr_t block = start & ~std::uintptr_t{31};
  // The first block, without the bytes in front of the text; then single
  // blocks up to a 128-byte boundary.
  std::uint32_t found = ZerosInBlock(block) >> (start - block);
  if (found != 0) return static_cast<std::size_t>(__builtin_ctz(found));
  for (block += 32; (block & 127) != 0; block += 32) {
    if ((found = ZerosInBlock(block)) != 0) return block - start + __builtin_ctz(found);
  }
  // Then 128 aligned bytes at a step: a byte of the four blocks' minimum is
  // zero exactly where one of them has a zero.
  const __m256i zero = _mm256_setzero_si256();
  for (;; block += 128) {
    auto at = reinterpret_cast<const __m256i *>(block);
    __m256i least =
        _mm256_min_epu8(_mm256_min_epu8(_mm256_load_si256(at), _mm256_load_si256(at + 1)),
                        _mm256_min_epu8(_mm256_load_si256(at + 2), _mm256_load_si256(at + 3)));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(least, zero)) != 0) break;
  }
  while ((found = ZerosInBlock(block)) == 0) block += 32;
  return block - start + __builtin_ctz(found);
}

KEL_AVX2 std::size_t HexEncodeBlocksAvx2(char *hex, const unsigned char *bytes, std::size_t count) {
  const __m256i digits = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a',
                                          'b', 'c', 'd', 'e', 'f', '0', '1', '2', '3', '4', '5',
                                          '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f');
  std::size_t done = 0;
  while (count - done >= 16) {
    // Each byte in a 16-bit slot, its high nibble in the slot's first byte
    // and its low nibble in the second: the order of the two digits.
    __m256i wide =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + done)));
    __m256i nibbles =
        _mm256_or_si256(_mm256_srli_epi16(wide, 4),
                        _mm256_slli_epi16(_mm256_and_si256(wide, _mm256_set1_epi16(0x0F)), 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(hex + 2 * done),
                        _mm256_shuffle_epi8(digits, nibbles));
    done += 16;
  }
  return done;
}

KEL_AVX2 std::size_t HexDecodeBlocksAvx2(unsigned char *bytes, const unsigned char *hex,
                                         std::size_t pairs) {
  std::size_t done = 0;
  while (pairs - done >= 16) {
    __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(hex + 2 * done));
    // Digits 0-9 and letters a-f / A-F, each as an unsigned range test.
    __m256i digit = _mm256_sub_epi8(chars, _mm256_set1_epi8('0'));
    __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
    __m256i letter =
        _mm256_sub_epi8(_mm256_or_si256(chars, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
    __m256i is_letter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
    if (_mm256_movemask_epi8(_mm256_or_si256(is_digit, is_letter)) != -1) break;
    __m256i values =
        _mm256_blendv_epi8(_mm256_add_epi8(letter, _mm256_set1_epi8(10)), digit, is_digit);
    // first * 16 + second in each 16-bit slot, then narrowed to bytes.
    __m256i combined = _mm256_maddubs_epi16(values, _mm256_set1_epi16(0x0110));
    __m128i narrowed =
        _mm_packus_epi16(_mm256_castsi256_si128(combined), _mm256_extracti128_si256(combined, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + done), narrowed);
    done += 16;
  }
  return done;
}

}  // namespace kel

#else  // !KEL_HAVE_AVX2_KERNELS

namespace kel {

std::size_t Base64EncodeBlocksAvx2(char *, const unsigned char *, std::size_t) { return 0; }
std::size_t Base64DecodeBlocksAvx2(unsigned char *, const unsigned char *, std::size_t) {
  return 0;
}
std::size_t TextLengthAvx2(const char *) { return 0; }
std::size_t HexEncodeBlocksAvx2(char *, const unsigned char *, std::size_t) { return 0; }
std::size_t HexDecodeBlocksAvx2(unsigned char *, const unsigned char *, std::size_t) { return 0; }

}  // namespace kel

#endif  // KEL_HAVE_AVX2_KERNELS
