// The exported functions: argument checks, buffer hand-over, and a barrier
// that keeps every C++ exception (in practice std::bad_alloc) inside.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "aes_layout.h"
#include "backend.h"
#include "base64.h"
#include "kestro/kestro.h"
#include "key_text.h"
#include "provider_buffer.h"
#include "random_string.h"
#include "signature_der.h"

namespace kestro {
namespace {

// Runs `body` and turns an exception into `failure`.
template <typename Result, typename Body>
Result Barrier(Result failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

Bytes TextBytes(const char *text) { return Bytes(text, text + std::strlen(text)); }

// A byte range given as pointer and int length: null is allowed for 0 bytes.
bool IsRange(const void *data, int length) {
  return length >= 0 && (data != nullptr || length == 0);
}

unsigned char *ToProviderBuffer(const Bytes &bytes, int *resultLength) {
  if (bytes.size() > INT_MAX) return nullptr;
  unsigned char *buffer = NewProviderBuffer(bytes);
  if (buffer != nullptr) *resultLength = static_cast<int>(bytes.size());
  return buffer;
}

constexpr int kModeCbcWithIv = 2;

}  // namespace
}  // namespace kestro

using namespace kestro;

extern "C" {

int KESTRO_CALL Gen_Random_String(char *buffer, int count) {
  if (count < 0 || (buffer == nullptr && count != 0)) return -1;
  return Barrier(
      -1, [&] { return FillRandomAlphanumeric(buffer, static_cast<std::size_t>(count)) ? 0 : -1; });
}

unsigned char *KESTRO_CALL AES_Encryption(const unsigned char *data, int dataLength,
                                          const unsigned char *key, int keyLength,
                                          int *resultLength, int mode) {
  if (mode != kModeCbcWithIv || !IsRange(data, dataLength) || key == nullptr ||
      !IsAesKeySize(keyLength < 0 ? 0 : static_cast<std::size_t>(keyLength)) ||
      resultLength == nullptr)
    return nullptr;
  return Barrier<unsigned char *>(nullptr, [&]() -> unsigned char * {
    Bytes cipher;
    if (!EncryptWithIv(Bytes(key, key + keyLength), data, static_cast<std::size_t>(dataLength),
                       &cipher))
      return nullptr;
    return ToProviderBuffer(cipher, resultLength);
  });
}

unsigned char *KESTRO_CALL AES_Decryption(const unsigned char *data, int dataLength,
                                          const unsigned char *key, int keyLength,
                                          int *resultLength) {
  if (!IsRange(data, dataLength) || key == nullptr ||
      !IsAesKeySize(keyLength < 0 ? 0 : static_cast<std::size_t>(keyLength)) ||
      resultLength == nullptr)
    return nullptr;
  return Barrier<unsigned char *>(nullptr, [&]() -> unsigned char * {
    Bytes plain;
    if (!DecryptWithIv(Bytes(key, key + keyLength), data, static_cast<std::size_t>(dataLength),
                       &plain))
      return nullptr;
    return ToProviderBuffer(plain, resultLength);
  });
}

char *KESTRO_CALL AES_Decryption_CH(const char *key, const char *cipherText) {
  if (key == nullptr || cipherText == nullptr) return nullptr;
  return Barrier<char *>(nullptr, [&]() -> char * {
    Bytes cipher;
    Bytes plain;
    if (!Base64Decode(cipherText, &cipher) ||
        !DecryptWithIv(TextBytes(key), cipher.data(), cipher.size(), &plain))
      return nullptr;
    // Let the ciphertext go before the plaintext is copied out: answers can
    // be large, and the caller holds their text as well.
    Bytes().swap(cipher);
    return reinterpret_cast<char *>(NewProviderBuffer(plain));
  });
}

unsigned char KESTRO_CALL ECDSA_Verify_CH(const char *publicKey, const unsigned char *data,
                                          int dataLength, const char *signature) {
  if (publicKey == nullptr || signature == nullptr || !IsRange(data, dataLength)) return 0;
  return Barrier<unsigned char>(0, [&]() -> unsigned char {
    PublicKey key;
    Bytes der;
    Bytes rs;
    Bytes digest;
    bool valid = ParsePublicKeyText(publicKey, &key) && Base64Decode(signature, &der) &&
                 DecodeSignatureDer(der, CoordinateSize(key.curve), &rs) &&
                 backend::Digest(key.hash, data, static_cast<std::size_t>(dataLength), &digest) &&
                 backend::EcdsaVerifyDigest(key.curve, key.point, digest, rs);
    return valid ? 1 : 0;
  });
}

int KESTRO_CALL Ecc_Free(void **buffer) {
  if (buffer == nullptr) return 0;
  // Buffers hold plaintexts as often as not.
  WipeAndFree(*buffer);
  *buffer = nullptr;
  return 0;
}

int KESTRO_CALL ECDSA_Gen_Key_CH(const char *algorithm, char **publicKey, char **privateKey) {
  if (algorithm == nullptr || publicKey == nullptr || privateKey == nullptr) return -1;
  return Barrier(-1, [&] {
    PublicKey key;
    std::string pem;
    if (!ParseAlgorithm(algorithm, &key.curve, &key.hash) ||
        !backend::GenerateKeyPair(key.curve, &key.point, &pem))
      return -1;
    char *public_text = NewProviderText(FormatPublicKeyText(key));
    char *private_text = NewProviderText(pem);
    if (public_text == nullptr || private_text == nullptr) {
      std::free(public_text);
      std::free(private_text);
      return -1;
    }
    *publicKey = public_text;
    *privateKey = private_text;
    return 0;
  });
}

char *KESTRO_CALL AES_Encryption_CH(const char *key, const char *plainText) {
  if (key == nullptr || plainText == nullptr) return nullptr;
  return Barrier<char *>(nullptr, [&]() -> char * {
    Bytes cipher;
    if (!EncryptWithIv(TextBytes(key), reinterpret_cast<const unsigned char *>(plainText),
                       std::strlen(plainText), &cipher))
      return nullptr;
    return NewProviderText(Base64Encode(cipher.data(), cipher.size()));
  });
}

char *KESTRO_CALL ECDSA_Sign_CH(const char *privateKey, const char *hash, const unsigned char *data,
                                int dataLength) {
  if (privateKey == nullptr || hash == nullptr || !IsRange(data, dataLength)) return nullptr;
  return Barrier<char *>(nullptr, [&]() -> char * {
    Hash hash_id;
    Bytes digest;
    Curve curve;
    Bytes rs;
    if (!HashFromName(hash, &hash_id) ||
        !backend::Digest(hash_id, data, static_cast<std::size_t>(dataLength), &digest) ||
        !backend::EcdsaSignDigest(privateKey, digest, &curve, &rs))
      return nullptr;
    Bytes der = EncodeSignatureDer(rs);
    return NewProviderText(Base64Encode(der.data(), der.size()));
  });
}

}  // extern "C"
