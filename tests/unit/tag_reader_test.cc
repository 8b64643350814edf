#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "doc/flat_tag_reader.h"
#include "doc/tag_reader_handle.h"
#include "gtest/gtest.h"

namespace kel {
namespace {

// A lookup after the parse: the name and the value expected under it, null
// when the name must be absent.
struct Lookup {
  const char *name;
  const char *value;
};

struct ParseCase {
  const char *label;
  std::string document;
  bool result;
  std::vector<Lookup> lookups;
};

const std::vector<ParseCase> &ParseCases() {
  static const std::vector<ParseCase> cases = {
      {"no element", "just text > and more", true, {{"", nullptr}, {"just", nullptr}}},
      {"two elements",
       "<data>abc</data><sign>xyz</sign>",
       true,
       {{"data", "abc"}, {"sign", "xyz"}, {"order", nullptr}, {"Data", nullptr}}},
      {"last element of a name wins", "<a>1</a><a>2</a>", true, {{"a", "2"}}},
      {"empty value is an empty text", "<a></a>", true, {{"a", ""}}},
      {"empty name", "<></>", true, {{"", ""}}},
      {"closing name differs", "<a>1</b>", false, {{"a", nullptr}}},
      {"closing tag without '>'", "<a>1</a", false, {{"a", nullptr}}},
      {"no closing tag", "<a>1", false, {{"a", nullptr}}},
      {"opening tag without '>'", "<a", false, {}},
      {"lone '<' at the end", "text<", false, {}},
      {"name is not trimmed", "<a >1</a>", false, {{"a", nullptr}, {"a ", nullptr}}},
      {"name keeps spaces", "<a b>1</a b>", true, {{"a b", "1"}, {"a", nullptr}}},
      {"names keep their escapes", "<a_>>1</a_>>", true, {{"a_>", "1"}, {"a>", nullptr}}},
      {"elements do not nest", "<a><b>1</b></a>", false, {{"a", nullptr}, {"b", nullptr}}},
      {"stray closing tag after an element", "<a>1</a></b>", false, {{"a", "1"}}},
      {"fault keeps elements stored before it",
       "<a>1</a><b>2</b><c>3",
       false,
       {{"a", "1"}, {"b", "2"}, {"c", nullptr}}},
      {"escapes removed from values", "<a>x_<y_>z</a>", true, {{"a", "x<y>z"}}},
      {"plain '<' inside a value", "<a>1<2</a>", true, {{"a", "1<2"}}},
      {"'_' before other bytes stays", "<a>_x_</ a_<b</a>", true, {{"a", "_x</ a<b"}}},
      {"doubled '_' before '<' keeps one", "<a>__<</a>", true, {{"a", "_<"}}},
      {"tripled '_' before '>' keeps two", "<a>___></a>", true, {{"a", "__>"}}},
      {"value ending in '_' escapes the closing tag", "<a>x_</a>", false, {{"a", nullptr}}},
      {"value ending in '_' closed later", "<a>x_</a></a>", true, {{"a", "x</a>"}}},
      {"escaped '<' before an element is text", "x_<<a>1</a>", true, {{"a", "1"}}},
      {"escaped '<' of an element turns it into text",
       "x_<a>1</a>",
       false,
       {{"a", nullptr}, {"/a", nullptr}}},
      {"'<' as the first byte is never escaped", "<a>1</a>", true, {{"a", "1"}}},
      {"text around elements ignored",
       " \r\n<a>1</a>\n<b>2</b> >\n",
       true,
       {{"a", "1"}, {"b", "2"}}},
      {"names compare byte for byte",
       "<\xC0\xA1>x</\xC0\xA1>",
       true,
       {{"\xC0\xA1", "x"}, {"\xC0", nullptr}}},
  };
  return cases;
}

TEST(FlatTagReaderTest, ParsesDocumentsAsSpecified) {
  for (const ParseCase &c : ParseCases()) {
    SCOPED_TRACE(c.label);
    FlatTagReader reader;
    EXPECT_EQ(reader.Parse(c.document.c_str(), static_cast<int>(c.document.size())), c.result);
    for (const Lookup &lookup : c.lookups) {
      SCOPED_TRACE(lookup.name);
      const char *value = reader.Get(lookup.name);
      if (lookup.value == nullptr) {
        EXPECT_EQ(value, nullptr);
      } else {
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, lookup.value);
      }
    }
  }
}

TEST(FlatTagReaderTest, NullOrEmptyTextKeepsEarlierEntries) {
  FlatTagReader reader;
  ASSERT_TRUE(reader.Parse("<a>1</a>", 8));
  EXPECT_FALSE(reader.Parse(nullptr, 0));
  EXPECT_FALSE(reader.Parse("", 0));
  EXPECT_STREQ(reader.Get("a"), "1");
}

TEST(FlatTagReaderTest, NewTextReplacesWholeContent) {
  FlatTagReader reader;
  ASSERT_TRUE(reader.Parse("<a>1</a><b>2</b>", 16));
  ASSERT_TRUE(reader.Parse("no tags", 7));
  EXPECT_EQ(reader.Get("a"), nullptr);
  EXPECT_EQ(reader.Get("b"), nullptr);
}

TEST(FlatTagReaderTest, ReadsUpToFirstZeroWhateverTheLength) {
  const char text[] = "<a>1</a>\0<b>2</b>";
  FlatTagReader reader;
  EXPECT_TRUE(reader.Parse(text, 3));
  EXPECT_STREQ(reader.Get("a"), "1");
  EXPECT_EQ(reader.Get("b"), nullptr);
  EXPECT_EQ(reader.Get(nullptr), nullptr);
}

TEST(TagReaderHandleTest, ForwardsToItsReader) {
  TagReaderHandle handle;
  ASSERT_FALSE(handle.empty());
  EXPECT_TRUE(handle.Parse("<data>abc</data>", 16));
  EXPECT_STREQ(handle.Get("data"), "abc");
  EXPECT_EQ(handle.Get("sign"), nullptr);
  EXPECT_FALSE(handle.Parse("<a>1</b>", 8));
}

TEST(TagReaderHandleTest, EmptyHandleAnswersFalseAndNull) {
  TagReaderHandle empty(nullptr);
  EXPECT_FALSE(empty.Parse("<a>1</a>", 8));
  EXPECT_EQ(empty.Get("a"), nullptr);

  TagReaderHandle handle;
  ASSERT_TRUE(handle.Parse("<a>1</a>", 8));
  handle.Destroy();
  handle.Destroy();  // Harmless on an empty handle; the destructor runs it once more.
  EXPECT_TRUE(handle.empty());
  EXPECT_FALSE(handle.Parse("<a>1</a>", 8));
  EXPECT_EQ(handle.Get("a"), nullptr);
}

// The rule as written, walking from the end and erasing in place: quadratic,
// but plainly right, so it serves as the reference for the linear version.
std::string ReferenceUnescape(std::string value) {
  if (value.size() < 2) return value;
  for (std::int64_t j = static_cast<std::int64_t>(value.size()) - 2; j >= 0;) {
    std::size_t at = static_cast<std::size_t>(j);
    if (value[at] == '_' && (value[at + 1] == '<' || value[at + 1] == '>')) {
      value.erase(at, 1);
      j -= 2;
    } else {
      j -= 1;
    }
  }
  return value;
}

std::string Unescaped(std::string value) {
  FlatTagReader::Unescape(&value);
  return value;
}

TEST(FlatTagReaderUnescapeTest, KnownValues) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},         {"_", "_"},     {"a", "a"},           {"_<", "<"},
      {"<_", "<_"},     {"__<", "_<"},  {"___<", "__<"},      {"____>", "___>"},
      {"_>_<", "><"},   {"_a_", "_a_"}, {"a_<b_>c", "a<b>c"}, {"_<_<_<", "<<<"},
      {"__>__", "_>__"}};
  for (const auto &c : cases) {
    EXPECT_EQ(Unescaped(c.first), c.second) << c.first;
    EXPECT_EQ(ReferenceUnescape(c.first), c.second) << c.first;
  }
}

TEST(FlatTagReaderUnescapeTest, MatchesRightToLeftRuleOnRandomValues) {
  static const char kAlphabet[] = {'_', '<', '>', 'a'};
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> length(0, 14);
  std::uniform_int_distribution<int> pick(0, 3);
  for (int round = 0; round < 50000; ++round) {
    std::string value(static_cast<std::size_t>(length(random)), ' ');
    for (char &byte : value) byte = kAlphabet[pick(random)];
    ASSERT_EQ(Unescaped(value), ReferenceUnescape(value)) << value;
  }
}

TEST(FlatTagReaderUnescapeTest, LongValueWithManyEscapes) {
  std::string value;
  for (int i = 0; i < 4000; ++i) value += (i % 2 != 0) ? "ab_<" : "c__>";
  EXPECT_EQ(Unescaped(value), ReferenceUnescape(value));
}

}  // namespace
}  // namespace kel
