// Kel_GetRadomString, Kel_AESEncryption and Kel_AESDecryption: their failure
// rows through a scripted provider, and round trips through the real one.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "api/last_error.h"
#include "api/messages.h"
#include "crypto_fake_provider.h"
#include "kel/kel.h"

namespace {

using kel::testing::FakeAction;
using kel::testing::FakeProviderScope;
using kel::testing::FakeScript;
using kel::testing::g_fake_record;

std::string LastError() { return kel::LastErrorText(); }

FakeScript Script(FakeAction action, int length = 0, std::string content = "") {
  FakeScript script;
  script.action = action;
  script.length = length;
  script.content = std::move(content);
  return script;
}

std::vector<unsigned char> Bytes(std::size_t length) {
  std::vector<unsigned char> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

TEST(GetRadomString, ReturnsSixteenCharactersAndTwoZeroBytes) {
  char *first = Kel_GetRadomString();
  char *second = Kel_GetRadomString();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(first[i])));
  EXPECT_EQ(first[16], 0);
  EXPECT_EQ(first[17], 0);
  EXPECT_NE(std::string(first), std::string(second));
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(Kel_ReleaseBuf(first), 0);
  EXPECT_EQ(Kel_ReleaseBuf(second), 0);
}

TEST(GetRadomString, FailsWhenTheProviderFails) {
  struct Row {
    const char *name;
    FakeScript script;
  };
  FakeScript short_write = Script(FakeAction::kResult);
  short_write.random_count = 15;
  const Row kRows[] = {
      {"raises", Script(FakeAction::kThrow)},
      // Fails without raising: the buffer stays empty.
      {"returns -1", Script(FakeAction::kNull)},
      {"writes 15 characters", short_write},
  };
  for (const Row &row : kRows) {
    FakeProviderScope fake(row.script);
    kel::ReportError("earlier message");
    EXPECT_EQ(Kel_GetRadomString(), nullptr) << row.name;
    EXPECT_EQ(LastError(), kel::msg::kRandomFailed) << row.name;
    EXPECT_EQ(g_fake_record.random_count, 16);
  }
  FakeProviderScope fake(Script(FakeAction::kResult));
  char *text = Kel_GetRadomString();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "abcdefghijklmnop");
  EXPECT_EQ(Kel_ReleaseBuf(text), 0);
}

// One row of the AES wrappers' table: what the provider does, and what the
// export then returns and reports.
struct AesRow {
  const char *name;
  FakeScript script;
  bool pass_length;  // whether the host passes a resultLength pointer
  bool succeeds;
  int released;  // provider buffers given back
};

void RunAesRow(const AesRow &row, bool encrypt) {
  SCOPED_TRACE(std::string(encrypt ? "encrypt: " : "decrypt: ") + row.name);
  FakeProviderScope fake(row.script);
  const std::vector<unsigned char> data = Bytes(10);
  const std::vector<unsigned char> key = Bytes(16);
  int length = -99;
  int *length_pointer = row.pass_length ? &length : nullptr;
  kel::ReportError("stale message");
  unsigned char *result = encrypt
                              ? Kel_AESEncryption(data.data(), 10, key.data(), 16, length_pointer)
                              : Kel_AESDecryption(data.data(), 10, key.data(), 16, length_pointer);

  // The four leading arguments and the length pointer go through unchanged.
  EXPECT_EQ(g_fake_record.data, data.data());
  EXPECT_EQ(g_fake_record.data_length, 10);
  EXPECT_EQ(g_fake_record.key, key.data());
  EXPECT_EQ(g_fake_record.key_length, 16);
  EXPECT_EQ(g_fake_record.result_length, length_pointer);
  if (encrypt) {
    EXPECT_EQ(g_fake_record.mode, 2);
  }

  if (row.succeeds) {
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(length, row.script.length);
    EXPECT_EQ(std::memcmp(result, row.script.content.data(), static_cast<std::size_t>(length)), 0);
    EXPECT_EQ(result[row.script.length], 0);
    EXPECT_EQ(Kel_ReleaseBuf(result), 0);
  } else {
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(LastError(), encrypt ? kel::msg::kEncryptFailed : kel::msg::kDecryptFailed);
    // A failure leaves the length as the provider set it.
    if (row.pass_length && row.script.action != FakeAction::kThrow) {
      EXPECT_EQ(length, row.script.length);
    }
  }
  EXPECT_EQ(g_fake_record.handed_out, row.released);
  EXPECT_EQ(g_fake_record.released, row.released);
}

TEST(AesEncryption, FollowsTheFailureTable) {
  const AesRow kRows[] = {
      {"raises", Script(FakeAction::kThrow), true, false, 0},
      {"returns null", Script(FakeAction::kNull, 32), true, false, 0},
      {"no length pointer", Script(FakeAction::kResult, 0, "abc"), false, false, 1},
      {"length 0 is a result", Script(FakeAction::kResult, 0, "abc"), true, true, 1},
      {"negative length", Script(FakeAction::kResult, -1, "abc"), true, false, 1},
      {"most negative length", Script(FakeAction::kResult, -2147483647 - 1, "x"), true, false, 1},
      {"result", Script(FakeAction::kResult, 4, std::string("a\0bc", 4)), true, true, 1},
  };
  for (const AesRow &row : kRows) RunAesRow(row, true);
}

TEST(AesDecryption, FollowsTheFailureTable) {
  const AesRow kRows[] = {
      {"raises", Script(FakeAction::kThrow), true, false, 0},
      {"returns null", Script(FakeAction::kNull, 5), true, false, 0},
      {"length 0", Script(FakeAction::kResult, 0, "abc"), true, false, 1},
      {"negative length", Script(FakeAction::kResult, -5, "abc"), true, false, 1},
      {"no length pointer", Script(FakeAction::kResult, 3, "abc"), false, false, 1},
      {"result", Script(FakeAction::kResult, 4, std::string("a\0bc", 4)), true, true, 1},
  };
  for (const AesRow &row : kRows) RunAesRow(row, false);
}

TEST(AesExports, ASuccessAfterAFailureLeavesNoMessage) {
  const std::vector<unsigned char> key = Bytes(16);
  const std::vector<unsigned char> data = Bytes(20);
  int length = 0;
  EXPECT_EQ(Kel_AESEncryption(data.data(), 20, key.data(), 15, &length), nullptr);
  EXPECT_EQ(LastError(), kel::msg::kEncryptFailed);

  unsigned char *cipher = Kel_AESEncryption(data.data(), 20, key.data(), 16, &length);
  ASSERT_NE(cipher, nullptr);
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(Kel_AESEncryption(data.data(), 20, key.data(), 15, &length), nullptr);
  int plain_length = 0;
  unsigned char *plain = Kel_AESDecryption(cipher, 48, key.data(), 16, &plain_length);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(Kel_ReleaseBuf(plain), 0);
  EXPECT_EQ(Kel_ReleaseBuf(cipher), 0);
}

// Through the real provider: every length up to 100 and one of 1 MiB, with
// each key size.
TEST(AesExports, RoundTripThroughTheProvider) {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  lengths.push_back(1 << 20);
  for (int key_length : {16, 24, 32}) {
    const std::vector<unsigned char> key = Bytes(static_cast<std::size_t>(key_length));
    for (std::size_t n : lengths) {
      SCOPED_TRACE(std::to_string(key_length) + "/" + std::to_string(n));
      const std::vector<unsigned char> data = Bytes(n);
      int cipher_length = -1;
      unsigned char *cipher = Kel_AESEncryption(data.data(), static_cast<int>(n), key.data(),
                                                key_length, &cipher_length);
      ASSERT_NE(cipher, nullptr);
      EXPECT_EQ(cipher_length, static_cast<int>(16 + (n / 16 + 1) * 16));

      int plain_length = -1;
      unsigned char *plain =
          Kel_AESDecryption(cipher, cipher_length, key.data(), key_length, &plain_length);
      if (n == 0) {
        // An empty plaintext comes back with length 0, which the decryption
        // export counts as a failure.
        EXPECT_EQ(plain, nullptr);
        EXPECT_EQ(plain_length, 0);
        EXPECT_EQ(LastError(), kel::msg::kDecryptFailed);
      } else {
        ASSERT_NE(plain, nullptr);
        ASSERT_EQ(plain_length, static_cast<int>(n));
        EXPECT_EQ(std::memcmp(plain, data.data(), n), 0);
        EXPECT_EQ(plain[n], 0);
        EXPECT_EQ(Kel_ReleaseBuf(plain), 0);
      }
      EXPECT_EQ(Kel_ReleaseBuf(cipher), 0);
    }
  }
}

TEST(AesExports, RealProviderFailuresBecomeMessages) {
  const std::vector<unsigned char> key = Bytes(32);
  const std::vector<unsigned char> data = Bytes(64);
  int length = 0;
  EXPECT_EQ(Kel_AESEncryption(data.data(), 64, key.data(), 20, &length), nullptr);
  EXPECT_EQ(LastError(), kel::msg::kEncryptFailed);
  EXPECT_EQ(Kel_AESEncryption(data.data(), 64, key.data(), 32, nullptr), nullptr);
  EXPECT_EQ(LastError(), kel::msg::kEncryptFailed);
  // 63 bytes cannot be an IV plus whole blocks.
  EXPECT_EQ(Kel_AESDecryption(data.data(), 63, key.data(), 32, &length), nullptr);
  EXPECT_EQ(LastError(), kel::msg::kDecryptFailed);
  EXPECT_EQ(Kel_AESDecryption(data.data(), 64, key.data(), 32, nullptr), nullptr);
  EXPECT_EQ(LastError(), kel::msg::kDecryptFailed);
}

}  // namespace
