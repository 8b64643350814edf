// The codecs' two paths, the portable scalar code and the AVX2 kernels, must
// give the same results and write the same bytes for every input: long
// random texts with faults planted at random places (invalid characters,
// padding, carriage returns, early terminators, odd hex pairs) and limits
// that fall anywhere. The scalar path is also checked against OpenSSL, so
// that it stays right on machines where the kernels do the work.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/simd_dispatch.h"
#include "codec/simd_kernels.h"
#include "kel/kel.h"

namespace {

// Runs the body on the scalar path, then on the kernels where they exist.
class CodecPaths {
 public:
  explicit CodecPaths(bool wide) { kel::EnableAvx2CodecsForTesting(wide); }
  ~CodecPaths() { kel::EnableAvx2CodecsForTesting(true); }
};

struct Outcome {
  int result;
  std::vector<unsigned char> out;  // the whole output buffer, sentinels included
  bool operator==(const Outcome &other) const { return result == other.result && out == other.out; }
};

Outcome DecodeOn(bool wide, const char *text, int limit) {
  CodecPaths path(wide);
  Outcome outcome{0, std::vector<unsigned char>(std::strlen(text) + 8, 0xEE)};
  outcome.result = Kel_from64tobits(outcome.out.data(), text, limit);
  return outcome;
}

std::string EncodeOn(bool wide, const std::vector<unsigned char> &bytes) {
  CodecPaths path(wide);
  std::string text(4 * ((bytes.size() + 2) / 3) + 2, '\x7f');
  Kel_to64frombits(text.data(), bytes.data(), static_cast<int>(bytes.size()));
  return text;
}

std::vector<unsigned char> RandomBytes(std::mt19937 &random, std::size_t length) {
  std::vector<unsigned char> bytes(length);
  for (auto &b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

TEST(CodecPaths, ScalarEncodingAgreesWithOpenSsl) {
  std::mt19937 random(3);
  for (std::size_t length : {0, 1, 2, 3, 23, 24, 27, 28, 29, 51, 52, 100, 1000, 4099}) {
    auto bytes = RandomBytes(random, length);
    std::string ours = EncodeOn(false, bytes);
    std::vector<unsigned char> theirs(4 * ((length + 2) / 3) + 1);
    int their_length = EVP_EncodeBlock(theirs.data(), bytes.data(), static_cast<int>(length));
    EXPECT_EQ(ours.substr(0, their_length + 1),
              std::string(theirs.begin(), theirs.begin() + their_length) + '\0')
        << length;
  }
}

TEST(CodecPaths, Base64EncodingIsTheSameOnBothPaths) {
  if (!kel::Avx2CodecsAvailable()) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 random(5);
  for (std::size_t length = 0; length < 400; ++length) {
    auto bytes = RandomBytes(random, length);
    ASSERT_EQ(EncodeOn(false, bytes), EncodeOn(true, bytes)) << length;
  }
}

// A valid text of `groups` groups with one fault planted, or none.
std::string PlantFault(std::mt19937 &random, std::string text) {
  static const char kFaults[] = {'=', '\r', '\n', ' ', '*', '\x80', '\xff', '-', '_', '\0'};
  int kind = static_cast<int>(random() % 4);
  if (kind == 0 || text.empty()) return text;  // sound
  std::size_t at = random() % text.size();
  if (kind == 1) {
    text[at] = kFaults[random() % sizeof(kFaults)];
  } else if (kind == 2) {
    text.resize(at);  // ends inside or between groups
  } else {
    text.insert(at, "\r\n");
  }
  return text.c_str();  // a planted zero byte ends the text
}

TEST(CodecPaths, Base64DecodingIsTheSameOnBothPaths) {
  if (!kel::Avx2CodecsAvailable()) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 random(9);
  for (int round = 0; round < 3000; ++round) {
    std::size_t length = random() % 300;
    std::string text = EncodeOn(false, RandomBytes(random, length));
    text = PlantFault(random, text.c_str());
    if (random() % 8 == 0) text = "+ " + text;
    int limit = 0;
    switch (random() % 4) {
      case 0:
        limit = static_cast<int>(random() % (length + 30));
        break;
      case 1:
        limit = -static_cast<int>(random() % 5) - 1;
        break;
      default:
        break;
    }
    Outcome scalar = DecodeOn(false, text.c_str(), limit);
    Outcome wide = DecodeOn(true, text.c_str(), limit);
    ASSERT_EQ(scalar.result, wide.result) << text << " limit " << limit;
    ASSERT_TRUE(scalar == wide) << text << " limit " << limit;
  }
}

// On Windows the decoder finds the terminator with aligned wide loads that
// may run past the text: they must stay in its page, and find what strlen
// finds. Each text here ends on the last byte before an inaccessible page,
// from every offset within a 128-byte step.
TEST(CodecPaths, TheWideTextScanStopsAtTheEndOfAPage) {
  if (!kel::Avx2CodecsAvailable()) GTEST_SKIP() << "no AVX2 here";
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void *mapped =
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto *guard = static_cast<char *>(mapped) + page;
  ASSERT_EQ(mprotect(guard, page, PROT_NONE), 0);
  std::mt19937 random(11);
  std::string encoded = EncodeOn(false, RandomBytes(random, 240));
  for (std::size_t length = 0; length < 320; ++length) {
    char *text = guard - length - 1;
    std::memcpy(text, encoded.data(), length);
    text[length] = '\0';
    ASSERT_EQ(kel::TextLengthAvx2(text), length);
    ASSERT_TRUE(DecodeOn(false, text, 0) == DecodeOn(true, text, 0)) << length;
  }
  munmap(mapped, 2 * page);
}

TEST(CodecPaths, ScalarDecodingRoundTrips) {
  std::mt19937 random(13);
  for (std::size_t length = 1; length < 200; ++length) {
    auto bytes = RandomBytes(random, length);
    std::string text = EncodeOn(true, bytes);
    Outcome scalar = DecodeOn(false, text.c_str(), 0);
    ASSERT_EQ(scalar.result, static_cast<int>(length));
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), scalar.out.begin())) << length;
  }
}

std::string HexEncodeOn(bool wide, const std::vector<unsigned char> &bytes) {
  CodecPaths path(wide);
  std::string hex(2 * bytes.size() + 2, '\x7f');
  Kel_BinToHex(bytes.data(), hex.data(), static_cast<unsigned>(bytes.size()));
  return hex;
}

std::vector<unsigned char> HexDecodeOn(bool wide, const std::string &hex, unsigned count) {
  CodecPaths path(wide);
  std::vector<unsigned char> out(hex.size() / 2 + 4, 0xEE);
  Kel_HexToBin(out.data(), hex.data(), count);
  return out;
}

TEST(CodecPaths, HexIsTheSameOnBothPaths) {
  if (!kel::Avx2CodecsAvailable()) GTEST_SKIP() << "no AVX2 here";
  // Digits mostly, and now and then what strtol treats in its own way.
  static const char kOdd[] = " \t+-xXgG/:@`\xff\x80";
  std::mt19937 random(17);
  for (int round = 0; round < 2000; ++round) {
    std::size_t length = random() % 200;
    auto bytes = RandomBytes(random, length);
    std::string hex = HexEncodeOn(false, bytes);
    ASSERT_EQ(hex, HexEncodeOn(true, bytes)) << length;
    hex.resize(2 * length);
    for (auto &c : hex) {
      if (random() % 2 == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (random() % 97 == 0) c = kOdd[random() % (sizeof(kOdd) - 1)];
    }
    unsigned count = static_cast<unsigned>(random() % (hex.size() + 1));
    ASSERT_EQ(HexDecodeOn(false, hex, count), HexDecodeOn(true, hex, count)) << hex;
  }
}

}  // namespace
