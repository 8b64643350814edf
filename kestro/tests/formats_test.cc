// The portable formats: base64, DER signatures and public-key texts.
#include <gtest/gtest.h>

#include <string>

#include "base64.h"
#include "key_text.h"
#include "signature_der.h"

namespace kestro {
namespace {

Bytes B(const std::string &s) { return Bytes(s.begin(), s.end()); }

TEST(Base64, EncodesTheStandardVectors) {
  const std::pair<std::string, std::string> kCases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto &[plain, text] : kCases) {
    EXPECT_EQ(Base64Encode(reinterpret_cast<const unsigned char *>(plain.data()), plain.size()),
              text);
    Bytes decoded;
    EXPECT_TRUE(Base64Decode(text.c_str(), &decoded)) << text;
    EXPECT_EQ(decoded, B(plain)) << text;
  }
}

TEST(Base64, RoundTripsEveryByteValue) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<unsigned char>(i));
  for (std::size_t length = 0; length <= all.size(); length += 37) {
    Bytes decoded;
    ASSERT_TRUE(Base64Decode(Base64Encode(all.data(), length).c_str(), &decoded));
    EXPECT_EQ(decoded, Bytes(all.begin(), all.begin() + static_cast<long>(length)));
  }
}

TEST(Base64, IgnoresAsciiWhiteSpace) {
  Bytes decoded;
  ASSERT_TRUE(Base64Decode(" Zm9v\nYmFy\r\n\tZg=\v=\f", &decoded));
  EXPECT_EQ(decoded, B("foobarf"));
}

TEST(Base64, RejectsMalformedTexts) {
  const char *kCases[] = {
      "Zg",        // unpadded
      "Zg=",       // short padding
      "Z===",      // padding too early
      "=Zg=",      // padding first
      "Zg=a",      // data after padding in a group
      "Zg==Zg==",  // data after a padded group
      "Zh==",      // stray bits under the padding
      "Zm9=",      // stray bits under the padding
      "Zm9v!",     // not in the alphabet
      "Zm-_",      // the URL-safe alphabet
      "Zm9v\xC3",  // a non-ASCII byte
  };
  for (const char *text : kCases) {
    Bytes decoded;
    EXPECT_FALSE(Base64Decode(text, &decoded)) << text;
  }
}

// r = 0x80 00..01 (high bit set: needs a leading zero), s = 1 (short).
Bytes SampleRs(std::size_t size) {
  Bytes rs(2 * size, 0);
  rs[0] = 0x80;
  rs[size - 1] = 1;
  rs[2 * size - 1] = 1;
  return rs;
}

TEST(SignatureDer, RoundTripsAtEveryCurveSize) {
  for (std::size_t size : {32, 48, 66}) {
    Bytes rs = SampleRs(size);
    Bytes der = EncodeSignatureDer(rs);
    // The integers are minimal: r keeps a leading zero, s is one byte.
    EXPECT_EQ(der[der.size() - 3], 0x02);
    EXPECT_EQ(der[der.size() - 2], 0x01);
    Bytes decoded;
    ASSERT_TRUE(DecodeSignatureDer(der, size, &decoded)) << size;
    EXPECT_EQ(decoded, rs);
  }
  // 2 * (2 + 67) content bytes need the long length form.
  Bytes big(132, 0xFF);
  big[0] = 0x01;
  big[66] = 0x01;
  Bytes der = EncodeSignatureDer(big);
  EXPECT_EQ(der[1], 0x81);
  Bytes decoded;
  ASSERT_TRUE(DecodeSignatureDer(der, 66, &decoded));
  EXPECT_EQ(decoded, big);
}

TEST(SignatureDer, RejectsAnythingButTheDistinguishedForm) {
  const std::pair<const char *, Bytes> kCases[] = {
      {"valid", {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}},
      {"trailing byte", {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07, 0x00}},
      {"sequence too long", {0x30, 0x07, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}},
      {"not a sequence", {0x31, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}},
      {"not an integer", {0x30, 0x06, 0x04, 0x01, 0x05, 0x02, 0x01, 0x07}},
      {"long form for a short length", {0x30, 0x81, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}},
      {"needless leading zero", {0x30, 0x07, 0x02, 0x02, 0x00, 0x05, 0x02, 0x01, 0x07}},
      {"negative", {0x30, 0x06, 0x02, 0x01, 0x85, 0x02, 0x01, 0x07}},
      {"zero", {0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x07}},
      {"empty integer", {0x30, 0x05, 0x02, 0x00, 0x02, 0x01, 0x07}},
      {"one integer", {0x30, 0x03, 0x02, 0x01, 0x05}},
      {"integer past the end", {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x05, 0x07}},
      {"empty", {}},
  };
  for (const auto &[name, der] : kCases) {
    Bytes rs;
    EXPECT_EQ(DecodeSignatureDer(der, 32, &rs), std::string(name) == "valid") << name;
  }
  // An integer longer than the curve's size.
  Bytes wide = EncodeSignatureDer(Bytes(2 * 33, 0x01));
  Bytes rs;
  EXPECT_FALSE(DecodeSignatureDer(wide, 32, &rs));
}

std::string Point(std::size_t coordinateSize, const char *lead = "04") {
  return lead + std::string(4 * coordinateSize, 'a');
}

TEST(KeyText, ParsesEveryCurveAndHash) {
  const std::tuple<const char *, Curve, std::size_t> kCurves[] = {
      {"secp256r1", Curve::kSecp256r1, 32},
      {"secp384r1", Curve::kSecp384r1, 48},
      {"secp521r1", Curve::kSecp521r1, 66},
  };
  const std::pair<const char *, Hash> kHashes[] = {
      {"sha256", Hash::kSha256}, {"sha384", Hash::kSha384}, {"sha512", Hash::kSha512}};
  for (const auto &[curve_name, curve, size] : kCurves) {
    for (const auto &[hash_name, hash] : kHashes) {
      std::string text = std::string("ecdsa-") + curve_name + "-" + hash_name + "+" + Point(size);
      PublicKey key;
      ASSERT_TRUE(ParsePublicKeyText(text.c_str(), &key)) << text;
      EXPECT_EQ(key.curve, curve);
      EXPECT_EQ(key.hash, hash);
      EXPECT_EQ(key.point.size(), 1 + 2 * size);
      EXPECT_EQ(FormatPublicKeyText(key), text);
    }
  }
  // The built-in key's curve gives 23 + 266 characters.
  EXPECT_EQ(("ecdsa-secp521r1-sha512+" + Point(66)).size(), 289u);
}

TEST(KeyText, RejectsMalformedTexts) {
  const std::string kCases[] = {
      "ecdsa-secp256r1-sha256" + Point(32).substr(0),             // no '+'
      "ecdsa-secp256r1-sha256+" + Point(32).substr(2),            // no 04
      "ecdsa-secp256r1-sha256+" + Point(32, "02"),                // compressed lead
      "ecdsa-secp256r1-sha256+" + Point(32) + "00",               // too long
      "ecdsa-secp256r1-sha256+" + Point(32).substr(1),            // odd length
      "ecdsa-secp256r1-sha256+" + Point(48),                      // another curve's size
      "ecdsa-secp256k1-sha256+" + Point(32),                      // unknown curve
      "ecdsa-secp256r1-sha1+" + Point(32),                        // unknown hash
      "ECDSA-secp256r1-sha256+" + Point(32),                      // prefix case
      "rsa-secp256r1-sha256+" + Point(32),                        // wrong scheme
      "ecdsa-secp256r1-sha256+04" + std::string(127, 'a') + "g",  // not hex
      "ecdsa-secp256r1+" + Point(32),                             // no hash
      "",
  };
  for (const std::string &text : kCases) {
    PublicKey key;
    EXPECT_FALSE(ParsePublicKeyText(text.c_str(), &key)) << text;
  }
  PublicKey key;
  EXPECT_FALSE(ParsePublicKeyText(nullptr, &key));
}

}  // namespace
}  // namespace kestro
