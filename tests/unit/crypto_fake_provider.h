// A scripted crypto provider for the failures that the real one cannot
// produce: a raised failure, no result, a length of 0 or below. It records
// the arguments it was given and counts its buffers, so tests can check that
// each is released exactly once.
#ifndef KEL_TESTS_UNIT_CRYPTO_FAKE_PROVIDER_H_
#define KEL_TESTS_UNIT_CRYPTO_FAKE_PROVIDER_H_

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crypto/provider.h"

namespace kel {
namespace testing {

enum class FakeAction {
  kThrow,   // raise a failure
  kNull,    // return null (after writing `length` if asked)
  kResult,  // return a buffer holding `content`, and write `length`
};

struct FakeScript {
  FakeAction action = FakeAction::kResult;
  std::string content;    // the buffer's bytes (a zero byte is added)
  int length = 0;         // what the AES functions write through resultLength
  int random_count = 16;  // characters Gen_Random_String writes
  unsigned char verdict = 1;
};

struct FakeRecord {
  int handed_out = 0;  // buffers returned
  int released = 0;    // buffers given back to Ecc_Free
  const void *data = nullptr;
  int data_length = 0;
  const void *key = nullptr;
  int key_length = 0;
  int *result_length = nullptr;
  int mode = 0;
  int random_count = 0;
};

inline FakeScript g_fake_script;
inline FakeRecord g_fake_record;

inline void *FakeBuffer() {
  if (g_fake_script.action == FakeAction::kThrow) throw std::runtime_error("provider failure");
  if (g_fake_script.action == FakeAction::kNull) return nullptr;
  auto *buffer = static_cast<char *>(std::calloc(g_fake_script.content.size() + 1, 1));
  std::memcpy(buffer, g_fake_script.content.data(), g_fake_script.content.size());
  ++g_fake_record.handed_out;
  return buffer;
}

inline void RecordAes(const unsigned char *data, int dataLength, const unsigned char *key,
                      int keyLength, int *resultLength) {
  g_fake_record.data = data;
  g_fake_record.data_length = dataLength;
  g_fake_record.key = key;
  g_fake_record.key_length = keyLength;
  g_fake_record.result_length = resultLength;
  if (resultLength != nullptr) *resultLength = g_fake_script.length;
}

inline int KESTRO_CALL FakeGenRandomString(char *buffer, int count) {
  g_fake_record.random_count = count;
  if (g_fake_script.action == FakeAction::kThrow) throw std::runtime_error("no randomness");
  if (g_fake_script.action == FakeAction::kNull) return -1;
  for (int i = 0; i < g_fake_script.random_count; ++i) buffer[i] = static_cast<char>('a' + i);
  return 0;
}

inline unsigned char *KESTRO_CALL FakeAesEncryption(const unsigned char *data, int dataLength,
                                                    const unsigned char *key, int keyLength,
                                                    int *resultLength, int mode) {
  RecordAes(data, dataLength, key, keyLength, resultLength);
  g_fake_record.mode = mode;
  return static_cast<unsigned char *>(FakeBuffer());
}

inline unsigned char *KESTRO_CALL FakeAesDecryption(const unsigned char *data, int dataLength,
                                                    const unsigned char *key, int keyLength,
                                                    int *resultLength) {
  RecordAes(data, dataLength, key, keyLength, resultLength);
  return static_cast<unsigned char *>(FakeBuffer());
}

inline char *KESTRO_CALL FakeAesDecryptionCh(const char *, const char *) {
  return static_cast<char *>(FakeBuffer());
}

inline unsigned char KESTRO_CALL FakeEcdsaVerifyCh(const char *, const unsigned char *data,
                                                   int dataLength, const char *) {
  g_fake_record.data = data;
  g_fake_record.data_length = dataLength;
  if (g_fake_script.action == FakeAction::kThrow) throw std::runtime_error("verify failure");
  return g_fake_script.verdict;
}

inline int KESTRO_CALL FakeEccFree(void **buffer) {
  if (buffer != nullptr && *buffer != nullptr) {
    std::free(*buffer);
    *buffer = nullptr;
    ++g_fake_record.released;
  }
  return 0;
}

inline constexpr crypto::Provider kFakeProvider = {
    FakeGenRandomString, FakeAesEncryption, FakeAesDecryption,
    FakeAesDecryptionCh, FakeEcdsaVerifyCh, FakeEccFree,
};

// Puts the fake in place for one scope, with a fresh record.
class FakeProviderScope {
 public:
  explicit FakeProviderScope(FakeScript script) {
    g_fake_script = std::move(script);
    g_fake_record = FakeRecord();
    crypto::SetProviderForTesting(&kFakeProvider);
  }
  ~FakeProviderScope() { crypto::SetProviderForTesting(nullptr); }
  FakeProviderScope(const FakeProviderScope &) = delete;
  FakeProviderScope &operator=(const FakeProviderScope &) = delete;
};

}  // namespace testing
}  // namespace kel

#endif  // KEL_TESTS_UNIT_CRYPTO_FAKE_PROVIDER_H_
