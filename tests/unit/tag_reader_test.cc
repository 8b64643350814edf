#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "doc/flat_tag_reader.h"
#include "doc/tag_reader_handle.h"
#include "gtest/gtest.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

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
      {"last wins among names out of order",
       "<b>1</b><a>2</a><>3</><b>4</b><a>5</a><c>6</c><>7</>",
       true,
       {{"a", "5"}, {"b", "4"}, {"c", "6"}, {"", "7"}, {"d", nullptr}}},
      {"a name that starts another is no match",
       "<ab>1</ab><a>2</a><abc>3</abc>",
       true,
       {{"a", "2"}, {"ab", "1"}, {"abc", "3"}, {"abcd", nullptr}, {"b", nullptr}}},
      {"bytes above 0x7F name like any other",
       "<\xFF>1</\xFF><\x01>2</\x01><\x7F>3</\x7F>",
       true,
       {{"\xFF", "1"}, {"\x01", "2"}, {"\x7F", "3"}, {"\x80", nullptr}}},
      {"fault keeps the last of each name before it",
       "<b>1</b><a>2</a><b>3</b><a>4",
       false,
       {{"a", "2"}, {"b", "3"}}},
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

// Many elements (more than the reader remembers between its two passes, and
// often more than it reads in one), names repeated in any order, values with
// escapes of every kind: each name gives the last value written under it.
// The same document cut inside an element keeps what came before the cut.
// Each text is read with no length, half its length and its length, which
// takes every way from one pass to two. One reader reads them all, so a name
// missing from a document must not come back from an earlier one.
TEST(FlatTagReaderTest, ManyElementsGiveTheLastValueOfEachName) {
  static const char *const kNames[] = {"", "a", "ab", "b", "k_>", "\xC0"};
  static const char kAlphabet[] = {'_', '<', '>', '/', 'a'};
  std::mt19937 random(20240611);
  auto pick = [&random](std::size_t count) { return static_cast<std::size_t>(random() % count); };
  FlatTagReader reader;
  for (int round = 0; round < 40; ++round) {
    std::string document;
    std::vector<std::size_t> starts;
    std::vector<std::pair<std::string, std::string>> written;
    for (std::size_t i = 0, count = 17 + pick(120); i < count; ++i) {
      // Every other document leaves out the last name.
      std::string name = kNames[pick(std::size(kNames) - round % 2)];
      std::string value(pick(12), ' ');
      for (char &byte : value) byte = kAlphabet[pick(std::size(kAlphabet))];
      if (!value.empty() && value.back() == '_') value += 'a';  // Would escape the closing '<'.
      starts.push_back(document.size());
      document += "<" + name + ">";
      for (char byte : value) {
        if (byte == '<' || byte == '>') document += '_';
        document += byte;
      }
      document += "</" + name + ">";
      written.emplace_back(name, value);
    }
    starts.push_back(document.size());  // Element i runs up to starts[i + 1].
    std::size_t cut_element = pick(written.size());
    std::size_t cut =
        starts[cut_element] + 1 + pick(starts[cut_element + 1] - starts[cut_element] - 1);
    const std::pair<std::string, std::size_t> texts[] = {{document, written.size()},
                                                         {document.substr(0, cut), cut_element}};
    for (const auto &[text, stored] : texts) {
      for (std::size_t length : {std::size_t{0}, text.size() / 2, text.size()}) {
        SCOPED_TRACE(text);
        SCOPED_TRACE(length);
        EXPECT_EQ(reader.Parse(text.c_str(), static_cast<int>(length)), stored == written.size());
        for (const char *name : kNames) {
          const std::string *last = nullptr;
          for (std::size_t i = 0; i < stored; ++i) {
            if (written[i].first == name) last = &written[i].second;
          }
          const char *value = reader.Get(name);
          if (last == nullptr) {
            EXPECT_EQ(value, nullptr) << name;
          } else {
            ASSERT_NE(value, nullptr) << name;
            EXPECT_EQ(value, *last) << name;
          }
        }
      }
    }
  }
}

#if defined(__linux__)
// Names and values past 4 GiB do not fit the reader's 32-bit offsets. The
// text is one 1 MiB page of 'x' mapped over and over between a head and a
// tail, so that it takes no memory: "<b>1</b><a>xxx...(over 4 GiB)</a>".
// The element that crosses the limit is a fault; the one before it stays.
TEST(FlatTagReaderTest, ElementsPastFourGibAreAFault) {
  constexpr std::size_t kPage = std::size_t{1} << 20;
  constexpr std::size_t kPages = (std::size_t{4} << 30) / kPage + 2;
  int file = memfd_create("tag-reader-text", 0);
  ASSERT_GE(file, 0);
  ASSERT_EQ(ftruncate(file, 3 * kPage), 0);
  // Page 0 of the file is the head, page 1 the filling, page 2 the tail.
  auto *pages =
      static_cast<char *>(mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0));
  ASSERT_NE(pages, MAP_FAILED);
  std::memset(pages, 'x', 3 * kPage);
  std::memcpy(pages, "<b>1</b><a>", 11);
  std::memcpy(pages + 3 * kPage - 5, "</a>", 5);
  auto *text = static_cast<char *>(
      mmap(nullptr, kPages * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  ASSERT_NE(text, MAP_FAILED);
  for (std::size_t i = 0; i < kPages; ++i) {
    off_t page = i == 0 ? 0 : (i + 1 == kPages ? 2 : 1);
    ASSERT_EQ(mmap(text + i * kPage, kPage, PROT_READ, MAP_SHARED | MAP_FIXED, file,
                   page * static_cast<off_t>(kPage)),
              text + i * kPage);
  }

  FlatTagReader reader;
  EXPECT_FALSE(reader.Parse(text, 0));
  EXPECT_STREQ(reader.Get("b"), "1");
  EXPECT_EQ(reader.Get("a"), nullptr);
  munmap(text, kPages * kPage);
  munmap(pages, 3 * kPage);
  close(file);
}
#endif

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

// A long value is read piece by piece. Values whose sizes fall on either side
// of the powers of two from 4 KiB to 128 KiB, made of "_</_>" over and over,
// put each byte of an escape, and the closing tag, on the boundary of a piece
// whatever its size. Read in one pass (with the length) or two (without),
// each gives the unescaped value; cut inside the value, the document is a
// fault that keeps the element before it.
TEST(FlatTagReaderTest, LongValuesAcrossPieceBoundaries) {
  for (std::size_t power = 4096; power <= 131072; power *= 2) {
    for (std::size_t size = power - 2; size <= power + 2; ++size) {
      SCOPED_TRACE(size);
      std::string value;
      while (value.size() < size) value += "_</_>";
      value.resize(size);
      if (value.back() == '_') value.back() = 'a';  // Would escape the closing '<'.
      const std::string expected = Unescaped(value);
      const std::string document = "<b>1</b><a>" + value + "</a>";
      for (int length : {static_cast<int>(document.size()), 0}) {
        FlatTagReader reader;
        EXPECT_TRUE(reader.Parse(document.c_str(), length));
        const char *read = reader.Get("a");
        EXPECT_TRUE(read != nullptr && read == expected) << length;
      }
      const std::string cut = document.substr(0, document.size() - 5);
      FlatTagReader reader;
      EXPECT_FALSE(reader.Parse(cut.c_str(), static_cast<int>(cut.size())));
      EXPECT_STREQ(reader.Get("b"), "1");
      EXPECT_EQ(reader.Get("a"), nullptr);
    }
  }
}

}  // namespace
}  // namespace kel
