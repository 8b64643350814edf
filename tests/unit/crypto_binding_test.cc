// The guarded calls into the provider, and the built-in server key.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/built_in_server_key.h"
#include "crypto/provider.h"
#include "crypto_fake_provider.h"
#include "kestro/kestro.h"

namespace {

using kel::crypto::Outcome;
using kel::testing::FakeAction;
using kel::testing::FakeProviderScope;
using kel::testing::FakeScript;
using kel::testing::g_fake_record;

std::string ReadFixture(const std::string &name) {
  std::string path = std::string(KEL_FIXTURES_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A text from the provider, copied and released.
std::string Take(char *text) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return std::string();
  std::string copy = text;
  Ecc_Free(reinterpret_cast<void **>(&text));
  return copy;
}

std::string Sign(const std::string &pem, const std::string &data) {
  return Take(ECDSA_Sign_CH(pem.c_str(), "sha512",
                            reinterpret_cast<const unsigned char *>(data.data()),
                            static_cast<int>(data.size())));
}

FakeScript Script(FakeAction action, std::string content = "") {
  FakeScript script;
  script.action = action;
  script.content = std::move(content);
  return script;
}

TEST(DrawResponseKey, DrawsSixteenFreshCharacters) {
  kel::SecretText first;
  kel::SecretText second;
  ASSERT_TRUE(kel::crypto::DrawResponseKey(&first));
  ASSERT_TRUE(kel::crypto::DrawResponseKey(&second));
  EXPECT_EQ(first.size(), 16u);
  for (char c : first) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));
  EXPECT_NE(first, second);
}

TEST(DrawResponseKey, FailsWhenTheProviderFails) {
  FakeScript short_write = Script(FakeAction::kResult);
  short_write.random_count = 8;
  for (const FakeScript &script :
       {Script(FakeAction::kThrow), Script(FakeAction::kNull), short_write}) {
    FakeProviderScope fake(script);
    kel::SecretText key = "old";
    EXPECT_FALSE(kel::crypto::DrawResponseKey(&key));
    EXPECT_EQ(key, "");
  }
}

TEST(DecryptText, DecryptsWhatTheServerSideEncrypts) {
  const char *key = "K3yOfSixteenChrs";
  std::string cipher = Take(AES_Encryption_CH(key, "<status>0</status>"));
  kel::SecretText plain = "unchanged";
  EXPECT_EQ(kel::crypto::DecryptText(key, cipher.c_str(), &plain), Outcome::kOk);
  EXPECT_EQ(plain, "<status>0</status>");

  plain = "unchanged";
  EXPECT_EQ(kel::crypto::DecryptText("short key", cipher.c_str(), &plain), Outcome::kNoResult);
  EXPECT_EQ(plain, "unchanged");
}

TEST(DecryptText, CopiesUpToTheFirstZeroAndReleasesOnce) {
  {
    FakeProviderScope fake(Script(FakeAction::kResult, std::string("abc\0def", 7)));
    kel::SecretText plain;
    EXPECT_EQ(kel::crypto::DecryptText("k", "c", &plain), Outcome::kOk);
    EXPECT_EQ(plain, "abc");
    EXPECT_EQ(g_fake_record.released, 1);
  }
  {
    FakeProviderScope fake(Script(FakeAction::kThrow));
    kel::SecretText plain = "unchanged";
    EXPECT_EQ(kel::crypto::DecryptText("k", "c", &plain), Outcome::kRaised);
    EXPECT_EQ(plain, "unchanged");
  }
  {
    FakeProviderScope fake(Script(FakeAction::kNull));
    kel::SecretText plain = "unchanged";
    EXPECT_EQ(kel::crypto::DecryptText("k", "c", &plain), Outcome::kNoResult);
    EXPECT_EQ(plain, "unchanged");
  }
}

TEST(VerifySignature, MapsTheProvidersVerdict) {
  const std::string data = "content";
  struct Row {
    FakeScript script;
    Outcome expected;
  };
  FakeScript valid = Script(FakeAction::kResult);
  valid.verdict = 0x80;
  FakeScript invalid = Script(FakeAction::kResult);
  invalid.verdict = 0;
  for (const Row &row : {Row{valid, Outcome::kValid}, Row{invalid, Outcome::kInvalid},
                         Row{Script(FakeAction::kThrow), Outcome::kRaised}}) {
    FakeProviderScope fake(row.script);
    EXPECT_EQ(kel::crypto::VerifySignature("key", data.data(), data.size(), "sig"), row.expected);
    EXPECT_EQ(g_fake_record.data, static_cast<const void *>(data.data()));
    EXPECT_EQ(g_fake_record.data_length, 7);
  }
}

TEST(BuiltInServerKey, IsAKeyTextOf289Characters) {
  std::string key = kel::kBuiltInServerKey;
  EXPECT_EQ(key.size(), 289u);
  for (char c : key)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-') << c;
}

TEST(BuiltInServerKey, VerifiesWhatTheDevelopmentKeySigns) {
  std::string dev_public = ReadFixture("dev-only-document-server-key.pub");
  if (dev_public != kel::kBuiltInServerKey)
    GTEST_SKIP() << "built with a deployment key (KEL_BUILTIN_SERVER_KEY)";
  std::string pem = ReadFixture("dev-only-document-server-key.pem");
  std::string content = "0,seal record accepted";
  std::string signature = Sign(pem, content);
  EXPECT_EQ(kel::crypto::VerifySignature(kel::kBuiltInServerKey, content.data(), content.size(),
                                         signature.c_str()),
            Outcome::kValid);

  std::string changed = content;
  changed[0] = '1';
  EXPECT_EQ(kel::crypto::VerifySignature(kel::kBuiltInServerKey, changed.data(), changed.size(),
                                         signature.c_str()),
            Outcome::kInvalid);
  // Another key's signature does not verify.
  std::string other = Sign(ReadFixture("dev-only-other-server-key.pem"), content);
  EXPECT_EQ(kel::crypto::VerifySignature(kel::kBuiltInServerKey, content.data(), content.size(),
                                         other.c_str()),
            Outcome::kInvalid);
  EXPECT_EQ(kel::crypto::VerifySignature(ReadFixture("dev-only-other-server-key.pub").c_str(),
                                         content.data(), content.size(), other.c_str()),
            Outcome::kValid);
}

}  // namespace
