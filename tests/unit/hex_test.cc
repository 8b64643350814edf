// Hex exports and the text copy.
#include "codec/hex.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/last_error.h"
#include "kel/kel.h"

namespace {

// Leaves a message behind, as a failed call of another export would.
void LeaveAnError() {
  kel::ClearLastError();
  kel::ReportError("earlier failure");
}

std::string LastError() {
  char *text = Kel_GetLastErr();
  std::string copy = text;
  Kel_ReleaseBuf(text);
  return copy;
}

TEST(BinToHex, LowercasePairsAndATerminator) {
  const unsigned char bytes[] = {0x00, 0x0A, 0xFF};
  char hex[8];
  std::memset(hex, 'x', sizeof hex);
  LeaveAnError();
  EXPECT_EQ(Kel_BinToHex(bytes, hex, 3), 0);
  EXPECT_STREQ(hex, "000aff");
  EXPECT_EQ(LastError(), "");
}

TEST(BinToHex, CountZeroWritesNothingAtAll) {
  char hex[2] = {'x', 'y'};
  EXPECT_EQ(Kel_BinToHex(reinterpret_cast<const unsigned char *>("a"), hex, 0), 0);
  EXPECT_EQ(hex[0], 'x');
}

struct PairCase {
  const char *hex;
  unsigned count;
  std::string bytes;  // expected output, up to the first untouched byte
};

class HexToBinCases : public ::testing::TestWithParam<PairCase> {};

TEST_P(HexToBinCases, WritesCountHalvedBytes) {
  const PairCase &c = GetParam();
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  LeaveAnError();
  EXPECT_EQ(Kel_HexToBin(out, c.hex, c.count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), c.bytes.size()), c.bytes) << c.hex;
  EXPECT_EQ(out[c.bytes.size()], 0xEE) << "wrote past count / 2 bytes for " << c.hex;
  EXPECT_EQ(LastError(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Documented, HexToBinCases,
    ::testing::Values(PairCase{"4A", 2, "\x4A"}, PairCase{"4a", 2, "\x4A"},
                      PairCase{"4A5", 3, "\x4A"}, PairCase{"4A", 1, ""}, PairCase{"4A", 0, ""},
                      PairCase{"G1", 2, std::string(1, '\0')}, PairCase{"1G", 2, "\x01"},
                      PairCase{"-1", 2, "\xFF"}, PairCase{" 7", 2, "\x07"},
                      PairCase{"0x", 2, std::string(1, '\0')}, PairCase{"+f", 2, "\x0F"},
                      PairCase{"00ff7f", 6, std::string("\0\xFF\x7F", 3)}));

// Every pair of bytes converts exactly as strtol converts the two-character
// text in the "C" locale (the pair's conversion never reads past it).
TEST(HexToBin, AgreesWithStrtolForEveryPair) {
  std::setlocale(LC_ALL, "C");
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      char text[3] = {static_cast<char>(first), static_cast<char>(second), '\0'};
      auto expected = static_cast<unsigned char>(std::strtol(text, nullptr, 16) & 0xFF);
      ASSERT_EQ(
          kel::HexPairValue(static_cast<unsigned char>(first), static_cast<unsigned char>(second)),
          expected)
          << first << "," << second;
    }
  }
}

TEST(HexRoundTrip, EveryByteValue) {
  unsigned char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
  char hex[513];
  Kel_BinToHex(bytes, hex, 256);
  unsigned char back[256];
  Kel_HexToBin(back, hex, 512);
  EXPECT_EQ(std::memcmp(bytes, back, 256), 0);
}

TEST(GetCiphertext, CopiesTheTextIntoABufferOfItsOwn) {
  LeaveAnError();
  char *copy = nullptr;
  const char text[] = "\xC3\xBB text";
  EXPECT_EQ(Kel_GetCiphertext(text, &copy), 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, text);
  EXPECT_STREQ(copy, text);
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(Kel_ReleaseBuf(copy), 0);
}

TEST(GetCiphertext, EmptyTextReturnsTheMarkerAndLeavesTheOutputAlone) {
  LeaveAnError();
  char sentinel = 0;
  char *copy = &sentinel;
  EXPECT_EQ(Kel_GetCiphertext("", &copy), 0x00FFFFFE);
  EXPECT_EQ(Kel_GetCiphertext("", &copy), 16777214);
  EXPECT_EQ(Kel_GetCiphertext(nullptr, &copy), 16777214);
  EXPECT_EQ(copy, &sentinel);
  EXPECT_EQ(LastError(), "");
  // Nowhere to put the copy of a text: a failure.
  EXPECT_EQ(Kel_GetCiphertext("abc", nullptr), 1);
}

}  // namespace
