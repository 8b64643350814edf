// SHA-256 (FIPS 180-4), for short fingerprints of public key texts in the
// trace. Not used to protect anything: the signatures are the provider's.
#ifndef KEL_CODEC_SHA256_H_
#define KEL_CODEC_SHA256_H_

#include <array>
#include <cstddef>
#include <string>

namespace kel {

using Sha256Digest = std::array<unsigned char, 32>;

Sha256Digest Sha256(const void *data, std::size_t size);

// The digest of `text` as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const std::string &text);

}  // namespace kel

#endif  // KEL_CODEC_SHA256_H_
