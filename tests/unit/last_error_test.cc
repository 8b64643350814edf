// The last-error text and the two frame exports.
#include "api/last_error.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kel/kel.h"

namespace {

std::string TakeLastError() {
  char *text = Kel_GetLastErr();
  EXPECT_NE(text, nullptr);
  std::string copy = text == nullptr ? "" : text;
  EXPECT_EQ(Kel_ReleaseBuf(text), 0);
  return copy;
}

TEST(LastError, EmptyTextIsAOneByteZeroBuffer) {
  kel::ClearLastError();
  char *text = Kel_GetLastErr();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(Kel_ReleaseBuf(text), 0);
}

TEST(LastError, FirstReportOfACallWins) {
  kel::ClearLastError();
  kel::ReportError("first");
  kel::ReportError("second");
  EXPECT_EQ(TakeLastError(), "first");
  kel::ClearLastError();
  kel::ReportError("second");
  EXPECT_EQ(TakeLastError(), "second");
}

TEST(LastError, TwoReadsGiveEqualTextsInDistinctBuffers) {
  kel::ClearLastError();
  kel::ReportError("message");
  char *one = Kel_GetLastErr();
  char *two = Kel_GetLastErr();
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_NE(one, two);
  EXPECT_STREQ(one, two);
  EXPECT_STREQ(one, "message");
  Kel_ReleaseBuf(one);
  Kel_ReleaseBuf(two);
}

TEST(LastError, ReleaseOfNullReturnsOne) { EXPECT_EQ(Kel_ReleaseBuf(nullptr), 1); }

TEST(LastError, ConcurrentReportsNeverTearTheText) {
  // Every reader must see one of the whole texts, never a mix of two.
  const std::string long_a(4096, 'a');
  const std::string long_b(4096, 'b');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        kel::ClearLastError();
        kel::ReportError((t % 2 ? long_a : long_b).c_str());
        std::string seen = kel::LastErrorText();
        EXPECT_TRUE(seen.empty() || seen == long_a || seen == long_b);
      }
    });
  }
  for (auto &thread : threads) thread.join();
}

}  // namespace
