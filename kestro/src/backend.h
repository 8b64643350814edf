// The cryptographic primitives that the provider's formats are built on.
// Everything above this interface (base64, key texts, DER signatures, PKCS#7
// and the IV layout) is portable; one file per platform implements it, so a
// build can put another library behind the same functions.
//
// Every function returns false on failure and then leaves its outputs in an
// unspecified state. None of them throws.
#ifndef KESTRO_SRC_BACKEND_H_
#define KESTRO_SRC_BACKEND_H_

#include <cstddef>
#include <string>

#include "bytes.h"
#include "curves.h"

namespace kestro {
namespace backend {

// Fills `count` bytes from the operating system's CSPRNG.
bool RandomBytes(unsigned char *out, std::size_t count);

// AES-CBC without padding over whole blocks: `in` must be a multiple of 16
// bytes, `key` 16, 24 or 32 bytes and `iv` 16 bytes.
bool AesCbcEncryptBlocks(const Bytes &key, const unsigned char *iv, const unsigned char *in,
                         std::size_t length, Bytes *out);
bool AesCbcDecryptBlocks(const Bytes &key, const unsigned char *iv, const unsigned char *in,
                         std::size_t length, Bytes *out);

bool Digest(Hash hash, const unsigned char *data, std::size_t length, Bytes *digest);

// ECDSA over a digest that the caller computed. The public key is the
// uncompressed point (04, X, Y); signatures are r and s as big-endian
// numbers of the curve's size, concatenated.
bool EcdsaVerifyDigest(Curve curve, const Bytes &point, const Bytes &digest, const Bytes &rs);

// Signs with a PKCS#8 PEM private key; `curve` receives the key's curve.
bool EcdsaSignDigest(const std::string &privateKeyPem, const Bytes &digest, Curve *curve,
                     Bytes *rs);

// A fresh key pair: the uncompressed public point and the PKCS#8 PEM private key.
bool GenerateKeyPair(Curve curve, Bytes *point, std::string *privateKeyPem);

}  // namespace backend
}  // namespace kestro

#endif  // KESTRO_SRC_BACKEND_H_
