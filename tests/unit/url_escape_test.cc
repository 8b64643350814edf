#include "net/url_escape.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace kel {
namespace {

TEST(UrlEscapeTest, AgreesWithTheReferenceTableForEveryByte) {
  std::ifstream table(KEL_TEST_DATA_DIR "/url_escape_table.txt");
  ASSERT_TRUE(table.is_open());
  int rows = 0;
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int byte = -1;
    std::string expected;
    ASSERT_TRUE(fields >> byte >> expected) << line;
    // The reference leaves '~' alone (Python 3.7 on); the form encoding
    // escapes everything but letters, digits and "*-./@_".
    if (byte == '~') expected = "%7E";
    EXPECT_EQ(UrlEscape(std::string(1, static_cast<char>(byte))), expected) << "byte " << byte;
    ++rows;
  }
  EXPECT_EQ(rows, 256);
}

TEST(UrlEscapeTest, EscapesEveryByteOfTheWholeText) {
  EXPECT_EQ(UrlEscape("a b+c=d&e"), "a%20b%2Bc%3Dd%26e");
  EXPECT_EQ(UrlEscape(std::string("a\0b", 3)), "a%00b");     // length, not the first zero byte
  EXPECT_EQ(UrlEscape("\xC4\xE3\xBA\xC3"), "%C4%E3%BA%C3");  // GBK, byte by byte
  EXPECT_EQ(UrlEscape(""), "");
}

}  // namespace
}  // namespace kel
