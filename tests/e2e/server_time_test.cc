// Signed server times and their local check, end to end.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "seal_server_fixture.h"

namespace kel::test {
namespace {

using ServerTime = SealServerTest;

struct Stamp {
  std::string time;
  std::string signature;
};

Stamp Obtain(LoadedKel &kel, const std::string &content, const std::string &url) {
  char *time = nullptr;
  char *signature = nullptr;
  EXPECT_EQ(kel.GetServerTime(&time, &signature, content.c_str(), url.c_str()), 0);
  return {kel.Take(time), kel.Take(signature)};
}

const std::regex kTimePattern("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}");

TEST_F(ServerTime, ObtainedTimeVerifiesAndTamperingFails) {
  const std::string content = "contract #42 \xD6\xD0";  // a GBK byte pair included
  Stamp stamp = Obtain(*kel_, content, Url());
  EXPECT_TRUE(std::regex_match(stamp.time, kTimePattern)) << stamp.time;
  EXPECT_EQ(kel_->VerifyTimeStamp(content.c_str(), stamp.time.c_str(), stamp.signature.c_str()), 0);

  // The message has no separator: moving bytes across the boundary keeps it.
  std::string moved_content = content.substr(0, content.size() - 3);
  std::string moved_time = content.substr(content.size() - 3) + stamp.time;
  EXPECT_EQ(
      kel_->VerifyTimeStamp(moved_content.c_str(), moved_time.c_str(), stamp.signature.c_str()), 0);

  // One changed byte fails, with the timestamp's own message after a
  // clearing call that stored nothing.
  std::string changed = stamp.time;
  changed[changed.size() - 1] = changed.back() == '0' ? '1' : '0';
  unsigned char bytes[1] = {0};
  char hex[3];
  kel_->BinToHex(bytes, hex, 1);
  EXPECT_EQ(kel_->VerifyTimeStamp(content.c_str(), changed.c_str(), stamp.signature.c_str()), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTimestampInvalid);
}

// One server key signs both formats, so a framed answer's time verifies
// against pubkey.key as a document answer's does.
TEST_F(ServerTime, FramedAnswersGiveATimeThatVerifies) {
  Stamp stamp = Obtain(*kel_, "abc", Url("format=framed"));
  EXPECT_TRUE(std::regex_match(stamp.time, kTimePattern)) << stamp.time;
  EXPECT_EQ(kel_->VerifyTimeStamp("abc", stamp.time.c_str(), stamp.signature.c_str()), 0);
}

TEST_F(ServerTime, TimeIsTheResultWithoutTheContentsLengthWhateverItHolds) {
  // A verification answer "0,0,recorded" read as a time for a 2-byte
  // content: the time text is what follows the first 2 bytes.
  Stamp stamp = Obtain(*kel_, "zz", Url("format=framed&result=0%2C0%2Crecorded"));
  EXPECT_EQ(stamp.time, "0,recorded");
}

TEST_F(ServerTime, ResultNoLongerThanTheContentFailsButHandsOverBothBuffers) {
  char *time = nullptr;
  char *signature = nullptr;
  EXPECT_EQ(
      kel_->GetServerTime(&time, &signature, "abcdef", Url("format=framed&result=abc").c_str()), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  ASSERT_NE(time, nullptr);
  ASSERT_NE(signature, nullptr);
  EXPECT_EQ(std::string(time), "");
  EXPECT_NE(std::string(signature), "");
  kel_->Take(time);
  kel_->Take(signature);
}

TEST_F(ServerTime, NullUrlGivesTheLocalClockAndNoSignature) {
  char *time = nullptr;
  char sentinel = 0;
  char *signature = &sentinel;
  EXPECT_EQ(kel_->GetServerTime(&time, &signature, nullptr, nullptr), 0);
  EXPECT_EQ(signature, &sentinel);
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(std::string(time).size(), 19u);
  EXPECT_TRUE(std::regex_match(std::string(time), kTimePattern)) << time;
  kel_->Take(time);
  EXPECT_EQ(kel_->GetServerTime(nullptr, &signature, nullptr, nullptr), 1);
  EXPECT_EQ(kel_->LastError(), msg::kBadArgument);
  EXPECT_TRUE(server_->Received().empty());
}

TEST_F(ServerTime, NullOutputFailsTheServerBranch) {
  char *time = nullptr;
  EXPECT_EQ(kel_->GetServerTime(&time, nullptr, "abc", Url().c_str()), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  EXPECT_NE(time, nullptr) << "the stored time buffer stays with the host";
  kel_->Take(time);

  char *signature = nullptr;
  EXPECT_EQ(kel_->GetServerTime(nullptr, &signature, "abc", Url().c_str()), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  EXPECT_NE(signature, nullptr) << "the stored signature buffer stays with the host";
  kel_->Take(signature);
}

// A verified but empty content is an exchange that reports no reason of its
// own: the transaction's message must appear.
TEST_F(ServerTime, AnEmptyVerifiedResultFailsWithTheTransactionsMessage) {
  char sentinel = 0;
  char *time = &sentinel;
  char *signature = &sentinel;
  EXPECT_EQ(kel_->GetServerTime(&time, &signature, "", Url("format=framed&result=").c_str()), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  EXPECT_EQ(time, &sentinel);
  EXPECT_EQ(signature, &sentinel);

  char *result = &sentinel;
  EXPECT_EQ(kel_->SendSealRecord("a", "S-1", "", Url("format=framed&result=").c_str(), &result), 1);
  EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  EXPECT_EQ(result, &sentinel);
}

TEST_F(ServerTime, LastErrorInterplayOfTheNonClearingCheck) {
  Stamp stamp = Obtain(*kel_, "abc", Url());
  const char *bad = "AAAA";

  // After a failed transaction, its message stays.
  int status = 0;
  kel_->VerifySeal(Url("fault=bad-signature").c_str(), "Acme", "S-1", "t", 1, &status);
  EXPECT_EQ(kel_->VerifyTimeStamp("abc", stamp.time.c_str(), bad), 1);
  EXPECT_EQ(kel_->LastError(), msg::kAnswerNotVerified);

  // After a successful verification, the description stays, also when the
  // check succeeds.
  kel_->VerifySeal(Url().c_str(), "Acme", "S-1", "t", 1, &status);
  EXPECT_EQ(kel_->VerifyTimeStamp("abc", stamp.time.c_str(), bad), 1);
  EXPECT_EQ(kel_->LastError(), "valid seal");
  EXPECT_EQ(kel_->VerifyTimeStamp("abc", stamp.time.c_str(), stamp.signature.c_str()), 0);
  EXPECT_EQ(kel_->LastError(), "valid seal");

  // A failing base64 decode neither clears nor reports.
  unsigned char out[4];
  EXPECT_EQ(kel_->From64ToBits(out, "!", 0), -1);
  EXPECT_EQ(kel_->LastError(), "valid seal");
}

TEST(ServerTimeWithoutKey, DocumentAnswersAndTimestampsNeedTheKeyFramedOnesDoNot) {
  TempDir dir;
  server::SealServer server(DevServerOptions(""));
  ASSERT_TRUE(server.Start());
  LoadedKel kel(std::nullopt);

  int status = 7;
  EXPECT_EQ(
      kel.VerifySeal((server.url() + "x?format=document").c_str(), "Acme", "S-1", "t", 1, &status),
      1);
  EXPECT_EQ(kel.LastError(), msg::kNoPublicKey);

  EXPECT_EQ(
      kel.VerifySeal((server.url() + "x?format=framed").c_str(), "Acme", "S-1", "t", 1, &status),
      0);
  EXPECT_EQ(status, 0);

  unsigned char bytes[1] = {0};
  char hex[3];
  kel.BinToHex(bytes, hex, 1);
  EXPECT_EQ(kel.VerifyTimeStamp("a", "b", "c"), 1);
  EXPECT_EQ(kel.LastError(), msg::kNoPublicKey);
}

TEST(ServerTimeWithEmptyKey, EmptyKeyFileIsPassedOnAndFailsAsInvalid) {
  LoadedKel kel(std::string(""));
  EXPECT_EQ(kel.VerifyTimeStamp("a", "b", "c"), 1);
  EXPECT_EQ(kel.LastError(), msg::kTimestampInvalid);
}

}  // namespace
}  // namespace kel::test
