// AVX2 kernels for the bulk of the base64 and hex conversions. Each kernel
// handles only the whole blocks it can convert exactly as the scalar code
// would, and tells how far it got; the scalar code does the rest. Call them
// only when UseAvx2Codecs() is true.
#ifndef KEL_CODEC_SIMD_KERNELS_H_
#define KEL_CODEC_SIMD_KERNELS_H_

#include <cstddef>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KEL_HAVE_AVX2_KERNELS 1
#else
#define KEL_HAVE_AVX2_KERNELS 0
#endif

namespace kel {

// Encodes blocks of 24 bytes into 32 characters while at least 28 bytes
// remain (each step reads 4 bytes beyond its block). Returns the number of
// bytes consumed, a multiple of 24; writes 4/3 as many characters.
std::size_t Base64EncodeBlocksAvx2(char *text, const unsigned char *bytes, std::size_t count);

// Decodes blocks of 32 characters into 24 bytes, as long as a whole block
// lies within the first `length` characters and every one of its characters
// is in the alphabet ('=', carriage returns and the terminator are not).
// Writes exactly 24 bytes per block. Returns the number of characters
// consumed, a multiple of 32.
std::size_t Base64DecodeBlocksAvx2(unsigned char *bytes, const unsigned char *text,
                                   std::size_t length);

// The length of the zero-terminated `text`, found 128 bytes at a step. Every
// load is an aligned 32-byte block, and the scan stops within the aligned 128
// bytes that hold the terminator: it may read up to 127 bytes past the text,
// but never into another page. Used instead of the C runtime's strlen, which
// in msvcrt scans several times slower than the decoding that follows.
std::size_t TextLengthAvx2(const char *text);

// Writes 32 hex digits for every 16 bytes while whole blocks of 16 remain.
// Returns the number of bytes consumed; no terminator is written.
std::size_t HexEncodeBlocksAvx2(char *hex, const unsigned char *bytes, std::size_t count);

// Converts blocks of 32 hex digits into 16 bytes, among the first `pairs`
// pairs, until a block holds a character that is not a hex digit. Returns
// the number of pairs converted, a multiple of 16.
std::size_t HexDecodeBlocksAvx2(unsigned char *bytes, const unsigned char *hex, std::size_t pairs);

}  // namespace kel

#endif  // KEL_CODEC_SIMD_KERNELS_H_
