// Owners for provider buffers (released with Ecc_Free, once) and small data
// helpers shared by the provider's tests.
#ifndef KESTRO_TESTS_PROVIDER_FIXTURES_H_
#define KESTRO_TESTS_PROVIDER_FIXTURES_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bytes.h"
#include "kestro/kestro.h"

namespace kestro {

struct EccFreeDeleter {
  void operator()(void *buffer) const { Ecc_Free(&buffer); }
};
using ProviderBytes = std::unique_ptr<unsigned char, EccFreeDeleter>;
using ProviderText = std::unique_ptr<char, EccFreeDeleter>;

// `length` bytes of a fixed sequence that differs with `seed`.
inline Bytes Pattern(std::size_t length, unsigned seed) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<unsigned char>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
  return bytes;
}

struct KeyPair {
  std::string public_text;
  std::string private_pem;
};

inline KeyPair GenerateKeyPair(const std::string &algorithm) {
  char *public_text = nullptr;
  char *private_pem = nullptr;
  KeyPair pair;
  if (ECDSA_Gen_Key_CH(algorithm.c_str(), &public_text, &private_pem) != 0) {
    ADD_FAILURE() << "no key pair for " << algorithm;
    return pair;
  }
  pair.public_text = public_text;
  pair.private_pem = private_pem;
  Ecc_Free(reinterpret_cast<void **>(&public_text));
  Ecc_Free(reinterpret_cast<void **>(&private_pem));
  return pair;
}

}  // namespace kestro

#endif  // KESTRO_TESTS_PROVIDER_FIXTURES_H_
