// The three local crypto exports: thin wrappers around one guarded provider
// call each, which copy the provider's result into a library-owned buffer.
#include <cstdlib>
#include <cstring>

#include "api/export_boundary.h"
#include "api/host_buffer.h"
#include "api/last_error.h"
#include "api/messages.h"
#include "crypto/provider.h"
#include "kel/kel.h"

namespace {

// The provider's only mode: AES-CBC with a random IV in front.
constexpr int kProviderMode = 2;

constexpr std::size_t kRandomLength = 16;
// Two zero bytes follow the characters; hosts may rely on that size.
constexpr std::size_t kRandomBufferSize = 18;

// The common end of both AES wrappers: a raised failure, no result, or a
// length below `minimum_length` reports `message` (releasing any block the
// provider returned); otherwise the block is copied into a library-owned
// buffer and released.
unsigned char *DeliverAesResult(const kel::crypto::Provider &provider, bool completed,
                                unsigned char *result, const int *resultLength, int minimum_length,
                                const char *message) {
  if (!completed) {
    kel::ReportError(message);
    return nullptr;
  }
  if (result == nullptr || resultLength == nullptr || *resultLength < minimum_length) {
    kel::ReportError(message);
    if (result != nullptr) kel::crypto::ReleaseProviderBuffer(provider, result);
    return nullptr;
  }
  char *copy = kel::NewHostBuffer(result, static_cast<std::size_t>(*resultLength));
  kel::crypto::ReleaseProviderBuffer(provider, result);
  if (copy == nullptr) kel::ReportError(message);
  return reinterpret_cast<unsigned char *>(copy);
}

char *GetRadomString() {
  kel::ClearLastError();
  auto *buffer = static_cast<char *>(std::calloc(kRandomBufferSize, 1));
  if (buffer == nullptr) {
    kel::ReportError(kel::msg::kRandomFailed);
    return nullptr;
  }
  const kel::crypto::Provider &provider = kel::crypto::ActiveProvider();
  bool completed = kel::crypto::RunGuarded(
      [&] { provider.gen_random_string(buffer, static_cast<int>(kRandomLength)); });
  // A provider that fails without raising leaves the buffer short; handing
  // out fewer than 16 characters would pass a failure off as a result.
  if (!completed || std::strlen(buffer) != kRandomLength) {
    kel::ReportError(kel::msg::kRandomFailed);
    std::free(buffer);
    return nullptr;
  }
  return buffer;
}

unsigned char *AesEncryption(const unsigned char *data, int dataLength, const unsigned char *key,
                             int keyLength, int *resultLength) {
  kel::ClearLastError();
  const kel::crypto::Provider &provider = kel::crypto::ActiveProvider();
  unsigned char *result = nullptr;
  bool completed = kel::crypto::RunGuarded([&] {
    result = provider.aes_encryption(data, dataLength, key, keyLength, resultLength, kProviderMode);
  });
  // A length of 0 is a (one-byte) result; a negative one is a failure.
  return DeliverAesResult(provider, completed, result, resultLength, 0, kel::msg::kEncryptFailed);
}

unsigned char *AesDecryption(const unsigned char *data, int dataLength, const unsigned char *key,
                             int keyLength, int *resultLength) {
  kel::ClearLastError();
  const kel::crypto::Provider &provider = kel::crypto::ActiveProvider();
  unsigned char *result = nullptr;
  bool completed = kel::crypto::RunGuarded(
      [&] { result = provider.aes_decryption(data, dataLength, key, keyLength, resultLength); });
  // Decryption succeeds only with at least one byte.
  return DeliverAesResult(provider, completed, result, resultLength, 1, kel::msg::kDecryptFailed);
}

}  // namespace

extern "C" {

char *KEL_CALL Kel_GetRadomString(void) {
  return kel::ExportBoundary<char *>(nullptr, kel::msg::kRandomFailed, GetRadomString);
}

unsigned char *KEL_CALL Kel_AESEncryption(const unsigned char *data, int dataLength,
                                          const unsigned char *key, int keyLength,
                                          int *resultLength) {
  return kel::ExportBoundary<unsigned char *>(nullptr, kel::msg::kEncryptFailed, [&] {
    return AesEncryption(data, dataLength, key, keyLength, resultLength);
  });
}

unsigned char *KEL_CALL Kel_AESDecryption(const unsigned char *data, int dataLength,
                                          const unsigned char *key, int keyLength,
                                          int *resultLength) {
  return kel::ExportBoundary<unsigned char *>(nullptr, kel::msg::kDecryptFailed, [&] {
    return AesDecryption(data, dataLength, key, keyLength, resultLength);
  });
}

}  // extern "C"
