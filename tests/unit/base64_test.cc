// Base64 exports: the documented cases, and round trips against OpenSSL's
// independent implementation.
#include "codec/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/last_error.h"
#include "codec/simd_dispatch.h"
#include "kel/kel.h"

namespace {

std::string Encode(const std::string &bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\x7f');
  Kel_to64frombits(text.data(), reinterpret_cast<const unsigned char *>(bytes.data()),
                   static_cast<int>(bytes.size()));
  EXPECT_EQ(text.back(), '\0');
  text.pop_back();
  return text;
}

struct Decoded {
  int result;
  std::string bytes;  // what was written, up to the first untouched sentinel
};

Decoded Decode(const std::string &text, int limit = 0) {
  std::vector<unsigned char> out(text.size() + 8, 0xEE);
  int result = Kel_from64tobits(out.data(), text.c_str(), limit);
  std::size_t written = 0;
  while (written < out.size() && out[written] != 0xEE) ++written;
  return {result, std::string(out.begin(), out.begin() + written)};
}

TEST(Base64Encode, DocumentedCases) {
  EXPECT_EQ(Encode("ABC"), "QUJD");
  EXPECT_EQ(Encode("AB"), "QUI=");
  EXPECT_EQ(Encode("A"), "QQ==");
  EXPECT_EQ(Encode(""), "");
}

TEST(Base64Encode, NegativeCountWritesOnlyTheTerminator) {
  char text[4] = "xyz";
  Kel_to64frombits(text, reinterpret_cast<const unsigned char *>("ABC"), -3);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'y');
}

struct DecodeCase {
  const char *text;
  int limit;
  int result;
  const char *written;  // bytes expected in the output before the first untouched one
};

class Base64DecodeCases : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeCases, ResultAndBytesWritten) {
  const DecodeCase &c = GetParam();
  Decoded decoded = Decode(c.text, c.limit);
  EXPECT_EQ(decoded.result, c.result) << '"' << c.text << '"';
  EXPECT_EQ(decoded.bytes, c.written) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Documented, Base64DecodeCases,
    ::testing::Values(DecodeCase{"QUJD", 0, 3, "ABC"}, DecodeCase{"QUI=", 0, 2, "AB"},
                      DecodeCase{"QQ==", 0, 1, "A"}, DecodeCase{"QUJD\r\n", 0, 3, "ABC"},
                      DecodeCase{"QUJD\n", 0, -1, "ABC"}, DecodeCase{"\rQUJD", 0, 0, ""},
                      DecodeCase{"+ \rQUJD", 0, 0, ""}, DecodeCase{"+ QUJD", 0, 3, "ABC"},
                      DecodeCase{"", 0, -1, ""}, DecodeCase{"QUI", 0, -1, ""},
                      DecodeCase{"QQ==QUJD", 0, 1, "A"}, DecodeCase{"QUJD", 2, -1, "AB"},
                      DecodeCase{"QUJD", 3, 3, "ABC"}, DecodeCase{"QUJD", -1, -1, ""},
                      DecodeCase{"QUJDQUJD", -7, -1, ""}, DecodeCase{"QUJDQUJD", 4, -1, "ABCA"},
                      DecodeCase{"QUJDQUJD", 6, 6, "ABCABC"},
                      // A pad in the third place only: one byte, and decoding goes on.
                      DecodeCase{"QQ=BQUJD", 0, 4, "AABC"}, DecodeCase{"QQ=", 0, -1, ""},
                      // Each group is validated before any of its bytes is written.
                      DecodeCase{"QUJDQU J", 0, -1, "ABC"}, DecodeCase{"QUJDQUJ\x80", 0, -1, "ABC"},
                      DecodeCase{"QUJDQ", 0, -1, "ABC"}, DecodeCase{"=QQQ", 0, -1, ""},
                      DecodeCase{"Q=QQ", 0, -1, ""}, DecodeCase{"QUJD QUJD", 0, -1, "ABC"},
                      // A carriage return ends the text only after a whole group.
                      DecodeCase{"QUJDQU\rJ", 0, -1, "ABC"},
                      DecodeCase{"+QUJD", 0, -1, "\xF9\x05\x09"}));

TEST(Base64Decode, LeavesTheLastErrorAlone) {
  kel::ClearLastError();
  kel::ReportError("earlier");
  unsigned char out[8];
  EXPECT_EQ(Kel_from64tobits(out, "!!!!", 0), -1);
  Kel_to64frombits(reinterpret_cast<char *>(out), out, 1);
  char *text = Kel_GetLastErr();
  EXPECT_STREQ(text, "earlier");
  Kel_ReleaseBuf(text);
}

TEST(Base64, RoundTripsAgreeWithOpenSsl) {
  std::mt19937 random(7);
  for (int length = 0; length < 300; ++length) {
    std::vector<unsigned char> bytes(length);
    for (auto &b : bytes) b = static_cast<unsigned char>(random());

    std::string ours = Encode(std::string(bytes.begin(), bytes.end()));
    std::vector<unsigned char> theirs(4 * ((length + 2) / 3) + 1);
    int their_length = EVP_EncodeBlock(theirs.data(), bytes.data(), length);
    ASSERT_EQ(ours, std::string(theirs.begin(), theirs.begin() + their_length)) << length;

    std::vector<unsigned char> decoded(length + 3);
    // The empty text is no valid base64 text.
    ASSERT_EQ(Kel_from64tobits(decoded.data(), ours.c_str(), 0), length == 0 ? -1 : length);
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), decoded.begin())) << length;

    // OpenSSL decodes whole groups and counts pad bytes as zeros.
    std::vector<unsigned char> openssl_decoded(decoded.size() + 3);
    int openssl_length = EVP_DecodeBlock(openssl_decoded.data(),
                                         reinterpret_cast<const unsigned char *>(ours.data()),
                                         static_cast<int>(ours.size()));
    ASSERT_GE(openssl_length, length);
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), openssl_decoded.begin())) << length;
  }
}

TEST(Base64, LimitIsNeverPassedWhateverTheLength) {
  std::mt19937 random(11);
  for (int length = 1; length < 80; ++length) {
    std::string bytes(length, '\0');
    for (auto &b : bytes) b = static_cast<char>(random());
    std::string text = Encode(bytes);
    for (int limit = 1; limit <= length + 1; ++limit) {
      std::vector<unsigned char> out(length + 8, 0xEE);
      int result = Kel_from64tobits(out.data(), text.c_str(), limit);
      if (limit >= length) {
        EXPECT_EQ(result, length);
      } else {
        EXPECT_EQ(result, -1);
        // The bytes up to the limit are written; the one after it is not.
        EXPECT_EQ(std::string(out.begin(), out.begin() + limit), bytes.substr(0, limit));
        EXPECT_EQ(out[limit], 0xEE) << length << " " << limit;
      }
    }
  }
}

// The int the count is returned in bounds the output like a limit does, also
// without one: a 64-bit host's text can need more than INT_MAX bytes. The
// bound stands in small here, on the scalar and the AVX2 path.
TEST(Base64, CountBeyondWhatAnIntHoldsFails) {
  std::mt19937 random(13);
  std::string bytes(90, '\0');
  for (auto &b : bytes) b = static_cast<char>(random());
  const std::string text = Encode(bytes);
  for (bool wide : {false, true}) {
    kel::EnableAvx2CodecsForTesting(wide);
    for (int bound = 1; bound <= 90; ++bound) {
      for (int limit : {0, 91}) {
        std::vector<unsigned char> out(100, 0xEE);
        int result = kel::Base64DecodeAtMost(out.data(), text.c_str(), limit, bound);
        ASSERT_EQ(result, bound == 90 ? 90 : -1) << wide << " " << bound << " " << limit;
        EXPECT_EQ(std::string(out.begin(), out.begin() + bound), bytes.substr(0, bound));
        EXPECT_EQ(out[bound], 0xEE) << wide << " " << bound << " " << limit;
      }
    }
  }
  kel::EnableAvx2CodecsForTesting(true);
}

}  // namespace
