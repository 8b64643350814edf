// The provider's symmetric layout: a random 16-byte IV followed by the
// AES-CBC ciphertext of the data with PKCS#7 padding.
#ifndef KESTRO_SRC_AES_LAYOUT_H_
#define KESTRO_SRC_AES_LAYOUT_H_

#include <cstddef>

#include "bytes.h"

namespace kestro {

constexpr std::size_t kAesBlockSize = 16;

bool IsAesKeySize(std::size_t size);

// False for a bad key size or when randomness or the cipher fails.
bool EncryptWithIv(const Bytes &key, const unsigned char *data, std::size_t length, Bytes *out);

// False for a bad key size, a length that is not a whole number of blocks
// behind the IV, or bad padding.
bool DecryptWithIv(const Bytes &key, const unsigned char *data, std::size_t length, Bytes *out);

}  // namespace kestro

#endif  // KESTRO_SRC_AES_LAYOUT_H_
