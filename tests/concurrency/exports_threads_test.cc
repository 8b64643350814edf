// The exports called from eight threads at once, in the library as a host
// loads it: the clearing exports, Kel_GetLastErr and Kel_VerifyTimeStamp,
// 10 000 rounds per thread. The last-error text is one per process, so what
// a thread reads may come from another thread's call, but it must always be
// whole: empty or one of the messages these calls leave. Built under
// ThreadSanitizer by the TSan stage, where any data race fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/messages.h"
#include "kestro/kestro.h"
#include "support/loaded_kel.h"

namespace kel::test {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 10000;
const std::string kContent = "contract";
const std::string kTime = "2024-01-02 03:04:05";

std::string SignStamp() {
  const std::string pem = FixtureFile("dev-only-document-server-key.pem");
  const std::string message = kContent + kTime;
  char *signature =
      ECDSA_Sign_CH(pem.c_str(), "sha512", reinterpret_cast<const unsigned char *>(message.data()),
                    static_cast<int>(message.size()));
  std::string copy = signature != nullptr ? signature : "";
  void *buffer = signature;
  Ecc_Free(&buffer);
  return copy;
}

// The clearing exports, each in a form that needs neither a server nor
// anything shared between threads but the library itself.
std::vector<std::function<void()>> ClearingCalls(const LoadedKel &kel) {
  return {
      [&kel] {
        char *copy = nullptr;
        kel.GetCiphertext("text", &copy);
        kel.ReleaseBuf(copy);
      },
      [&kel] {
        const unsigned char bytes[] = {1, 2, 3};
        char hex[7];
        kel.BinToHex(bytes, hex, 3);
      },
      [&kel] {
        unsigned char bytes[2];
        kel.HexToBin(bytes, "0aff", 4);
      },
      [&kel] { kel.ReleaseBuf(kel.GetRadomString()); },
      [&kel] {
        const unsigned char key[16] = {};
        int length = 0;
        unsigned char *cipher =
            kel.AESEncryption(reinterpret_cast<const unsigned char *>("data"), 4, key, 16, &length);
        kel.ReleaseBuf(kel.AESDecryption(cipher, length, key, 16, &length));
        kel.ReleaseBuf(cipher);
      },
      [&kel] {
        int length = 0;  // a key of the wrong size: a failure with a message
        kel.ReleaseBuf(kel.AESEncryption(reinterpret_cast<const unsigned char *>("d"), 1,
                                         reinterpret_cast<const unsigned char *>("k"), 1, &length));
      },
      [&kel] {
        char *time = nullptr;  // no URL: the local clock, no server
        kel.GetServerTime(&time, nullptr, "content", nullptr);
        kel.ReleaseBuf(time);
      },
      [&kel] {
        int status = 0;  // no URL: fails before any connection
        kel.VerifySeal(nullptr, "name", "id", "time", 1, &status);
      },
      [&kel] {
        char *result = nullptr;
        kel.SendSealRecord("user", "seal", "remark", nullptr, &result);
        kel.ReleaseBuf(result);
      },
  };
}

TEST(ExportsFromThreads, EightThreadsSeeNoTornStateAndNoRace) {
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  const std::string good = SignStamp();
  ASSERT_FALSE(good.empty());
  const std::string bad = "MEQCIAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
  const auto calls = ClearingCalls(kel);

  // Every message these calls can leave, learnt one call at a time.
  std::set<std::string> messages = {""};
  for (const auto &call : calls) {
    call();
    messages.insert(kel.LastError());
  }
  calls[0]();
  ASSERT_EQ(kel.VerifyTimeStamp(kContent.c_str(), kTime.c_str(), good.c_str()), 0);
  ASSERT_EQ(kel.VerifyTimeStamp(kContent.c_str(), kTime.c_str(), bad.c_str()), 1);
  messages.insert(kel.LastError());
  // A transaction's own message follows the exchange's; when another thread
  // clears the text in between, the transaction's message is the one kept.
  messages.insert(msg::kTransactionFailed);

  std::atomic<int> torn{0};
  std::atomic<int> wrong_verdicts{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        calls[(round + t) % calls.size()]();
        if (messages.count(kel.LastError()) == 0) ++torn;
        // Now and then a signature that verifies (a full ECDSA check is slow).
        const bool valid = round % 500 == t;
        int result = kel.VerifyTimeStamp(kContent.c_str(), kTime.c_str(),
                                         valid ? good.c_str() : bad.c_str());
        if (result != (valid ? 0 : 1)) ++wrong_verdicts;
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(wrong_verdicts.load(), 0);
}

}  // namespace
}  // namespace kel::test
