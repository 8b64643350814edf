// Interoperation with the openssl command-line tool: what it encrypts and
// signs, the provider decrypts and verifies, and the other way round.
#include <gtest/gtest.h>

#include <string>

#include "base64.h"
#include "kestro/kestro.h"
#include "provider_fixtures.h"
#include "scratch_dir.h"

namespace kestro {
namespace {

std::string Hex(const Bytes &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

Bytes ToBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

TEST(OpensslInterop, DecryptsWhatOpensslEncEncrypts) {
  ScratchDir dir;
  const std::pair<const char *, std::string> kCiphers[] = {
      {"aes-128-cbc", "0123456789ABCDEF"},
      {"aes-192-cbc", "0123456789ABCDEF01234567"},
      {"aes-256-cbc", "0123456789ABCDEF0123456789ABCDEF"},
  };
  Bytes iv = Pattern(16, 42);
  for (const auto &[cipher, key] : kCiphers) {
    for (std::size_t length : {0, 1, 15, 16, 17, 100}) {
      std::string plain(length, ' ');
      for (std::size_t i = 0; i < length; ++i) plain[i] = static_cast<char>('a' + i % 26);
      dir.Write("plain", plain);
      ASSERT_TRUE(dir.Run(std::string("openssl enc -") + cipher + " -K " + Hex(ToBytes(key)) +
                          " -iv " + Hex(iv) + " -in plain -out cipher"))
          << dir.Read("stderr.txt");
      Bytes layout = iv;
      Bytes body = ToBytes(dir.Read("cipher"));
      layout.insert(layout.end(), body.begin(), body.end());

      // Once on one line, once wrapped at 64 columns the way `openssl base64` writes it.
      std::string text = Base64Encode(layout.data(), layout.size());
      dir.Write("layout", layout);
      ASSERT_TRUE(dir.Run("openssl base64 -in layout -out layout.b64"));
      for (const std::string &form : {text, dir.Read("layout.b64")}) {
        ProviderText back(AES_Decryption_CH(key.c_str(), form.c_str()));
        ASSERT_TRUE(back) << cipher << " " << length;
        EXPECT_EQ(std::string(back.get()), plain);
      }
    }
  }
}

TEST(OpensslInterop, OpensslDecryptsWhatTheProviderEncrypts) {
  ScratchDir dir;
  const char *key = "0123456789ABCDEF0123456789ABCDEF";
  std::string plain = "<data>seal record 42</data>";
  ProviderText text(AES_Encryption_CH(key, plain.c_str()));
  ASSERT_TRUE(text);
  Bytes layout;
  ASSERT_TRUE(Base64Decode(text.get(), &layout));
  dir.Write("cipher", Bytes(layout.begin() + 16, layout.end()));
  ASSERT_TRUE(dir.Run("openssl enc -d -aes-256-cbc -K " + Hex(ToBytes(key)) + " -iv " +
                      Hex(Bytes(layout.begin(), layout.begin() + 16)) + " -in cipher -out plain"))
      << dir.Read("stderr.txt");
  EXPECT_EQ(dir.Read("plain"), plain);
}

struct CurveCase {
  const char *openssl_curve;
  const char *key_curve;
  std::size_t point_size;
};

class OpensslSignatures : public ::testing::TestWithParam<CurveCase> {};

// The key text of a key that openssl made: the uncompressed point is the
// tail of the DER SubjectPublicKeyInfo.
std::string KeyTextOf(const ScratchDir &dir, const CurveCase &curve, const std::string &hash) {
  EXPECT_TRUE(dir.Run("openssl pkey -in key.pem -pubout -outform DER -out pub.der"));
  std::string der = dir.Read("pub.der");
  Bytes point = ToBytes(der.substr(der.size() - curve.point_size));
  return std::string("ecdsa-") + curve.key_curve + "-" + hash + "+" + Hex(point);
}

TEST_P(OpensslSignatures, VerifiesWhatOpensslDgstSigns) {
  const CurveCase &curve = GetParam();
  ScratchDir dir;
  ASSERT_TRUE(dir.Run(std::string("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:") +
                      curve.openssl_curve + " -out key.pem"))
      << dir.Read("stderr.txt");
  std::string data = "content2001-02-03 04:05:06";
  dir.Write("data", data);

  for (const char *hash : {"sha256", "sha384", "sha512"}) {
    std::string key = KeyTextOf(dir, curve, hash);
    ASSERT_TRUE(dir.Run(std::string("openssl dgst -") + hash +
                        " -sign key.pem -out sig.der data && openssl base64 -A -in sig.der "
                        "-out sig.b64"))
        << dir.Read("stderr.txt");
    std::string signature = dir.Read("sig.b64");
    Bytes bytes = ToBytes(data);
    int length = static_cast<int>(bytes.size());
    EXPECT_EQ(ECDSA_Verify_CH(key.c_str(), bytes.data(), length, signature.c_str()), 1)
        << curve.key_curve << " " << hash;

    // One flipped byte in the data, or in the signature, fails.
    Bytes changed = bytes;
    changed[0] ^= 0x20;
    EXPECT_EQ(ECDSA_Verify_CH(key.c_str(), changed.data(), length, signature.c_str()), 0);
    std::string der = dir.Read("sig.der");
    for (std::size_t at : {std::size_t{0}, der.size() / 2, der.size() - 1}) {
      Bytes flipped = ToBytes(der);
      flipped[at] ^= 0x01;
      std::string flipped_text = Base64Encode(flipped.data(), flipped.size());
      EXPECT_EQ(ECDSA_Verify_CH(key.c_str(), bytes.data(), length, flipped_text.c_str()), 0)
          << "byte " << at;
    }
    // The key text names the hash: a signature over another hash fails.
    std::string other = key;
    other.replace(other.find(hash), 6, std::string(hash) == "sha256" ? "sha512" : "sha256");
    EXPECT_EQ(ECDSA_Verify_CH(other.c_str(), bytes.data(), length, signature.c_str()), 0);
  }
}

TEST_P(OpensslSignatures, OpensslVerifiesWhatTheProviderSigns) {
  const CurveCase &curve = GetParam();
  ScratchDir dir;
  KeyPair pair = GenerateKeyPair(std::string("ecdsa-") + curve.key_curve + "-sha384");
  dir.Write("key.pem", pair.private_pem);
  ASSERT_TRUE(dir.Run("openssl pkey -in key.pem -pubout -out pub.pem")) << dir.Read("stderr.txt");
  // The point that openssl reads from the PEM is the one in the key text.
  EXPECT_EQ(KeyTextOf(dir, curve, "sha384"), pair.public_text);

  Bytes data = Pattern(300, 9);
  ProviderText signature(ECDSA_Sign_CH(pair.private_pem.c_str(), "sha384", data.data(),
                                       static_cast<int>(data.size())));
  ASSERT_TRUE(signature);
  Bytes der;
  ASSERT_TRUE(Base64Decode(signature.get(), &der));
  dir.Write("data", data);
  dir.Write("sig.der", der);
  EXPECT_TRUE(dir.Run("openssl dgst -sha384 -verify pub.pem -signature sig.der data >out.txt"))
      << dir.Read("stderr.txt") << dir.Read("out.txt");
}

INSTANTIATE_TEST_SUITE_P(ThreeCurves, OpensslSignatures,
                         ::testing::Values(CurveCase{"prime256v1", "secp256r1", 65},
                                           CurveCase{"secp384r1", "secp384r1", 97},
                                           CurveCase{"secp521r1", "secp521r1", 133}),
                         [](const auto &info) { return std::string(info.param.key_curve); });

}  // namespace
}  // namespace kestro
