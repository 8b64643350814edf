// The fingerprint and form of a key text that the trace's start line shows,
// and the SHA-256 beneath the fingerprint.
#include "module/key_text_facts.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/sha256.h"

namespace kel {
namespace {

TEST(Sha256, KnownAnswersAroundTheBlockBoundaries) {
  const struct {
    std::string text;
    const char *digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // The length still fits in the last block, just does not, and a whole block.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto &row : rows) EXPECT_EQ(Sha256Hex(row.text), row.digest) << row.text.size();
}

TEST(KeyTextFacts, FingerprintAndForm) {
  EXPECT_EQ(KeyFingerprint(nullptr), "none");
  EXPECT_EQ(KeyFingerprint(""), "e3b0c44298fc1c14");
  EXPECT_EQ(KeyFingerprint("abc"), "ba7816bf8f01cfea");

  const std::string key = "ecdsa-secp521r1-sha512+04" + std::string(8, 'a') + std::string(8, 'B');
  const struct {
    const char *text;
    const char *form;
  } rows[] = {
      {nullptr, "none"},
      {"", "empty"},
      {key.c_str(), "ecdsa-secp521r1-sha512"},
      {"ecdsa-secp256r1-sha256+04aabbccdd", "ecdsa-secp256r1-sha256"},
      {"abc", "unrecognised"},
      {"ecdsa-secp521r1-sha512+05aabbccdd", "unrecognised"},  // not an uncompressed point
      {"ecdsa-secp521r1-sha512+04aabbccd", "unrecognised"},   // half a byte
      {"ecdsa-secp521r1-sha512+04aabbcc", "unrecognised"},    // coordinates of two sizes
      {"ecdsa-secp521r1-sha512+04aabbccdg", "unrecognised"},
      {"ecdsa-secp521r1+04aabbccdd", "unrecognised"},  // no hash
      {"ECDSA-secp521r1-sha512+04aabbccdd", "unrecognised"},
      {"ecdsa-secp521r1-sha512 +04aabbccdd", "unrecognised"},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(KeyTextForm(row.text), row.form) << (row.text != nullptr ? row.text : "(null)");
  }
}

}  // namespace
}  // namespace kel
