// The server transactions end to end: the shipped library, loaded from a
// temporary folder, against the reference seal server on loopback.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "seal_server_fixture.h"
#include "support/answer_dropping_proxy.h"
#include "support/child_process.h"
#include "support/recording_server.h"

namespace kel::test {
namespace {

using Transactions = SealServerTest;

// The parameter names of a form body, in order.
std::vector<std::string> ParamNames(const std::string &body) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t amp = body.find('&', start);
    std::string pair = body.substr(start, amp - start);
    names.push_back(pair.substr(0, pair.find('=')));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return names;
}

std::string ParamValue(const std::string &body, const std::string &name) {
  std::size_t at = body.find(name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 1;
  return body.substr(at, body.find('&', at) - at);
}

TEST_F(Transactions, VerifySealReadsTheVerdictInBothFormats) {
  for (const char *format : {"format=document", "format=framed"}) {
    int status = -1;
    EXPECT_EQ(kel_->VerifySeal(Url(format).c_str(), "Acme", "S-1", "2026-12-07", 1, &status), 0)
        << format;
    EXPECT_EQ(status, 0) << format;
    EXPECT_EQ(kel_->LastError(), "valid seal") << format;

    EXPECT_EQ(kel_->VerifySeal(Url(format).c_str(), "Revoked Co", "S-9", "t", 1, &status), 0);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(kel_->LastError(), "revoked, since 2020");

    EXPECT_EQ(kel_->VerifySeal(Url(format).c_str(), "Nobody", "S-404", "t", 1, &status), 0);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(kel_->LastError(), "unknown seal");
  }
}

TEST_F(Transactions, ParametersArriveInOrderWithAFreshKeyEachTime) {
  int status = 0;
  char *result = nullptr;
  char *time = nullptr;
  char *signature = nullptr;
  kel_->VerifySeal(Url().c_str(), "Acme", "S-1", "t", 1, &status);
  kel_->SendSealRecord("alice", "S-1", "note", Url().c_str(), &result);
  kel_->GetServerTime(&time, &signature, "doc", Url().c_str());
  kel_->Take(result);
  kel_->Take(time);
  kel_->Take(signature);

  auto received = server_->Received();
  ASSERT_EQ(received.size(), 3u);
  using Names = std::vector<std::string>;
  EXPECT_EQ(ParamNames(received[0].body), (Names{"type", "id", "name", "time", "enc"}));
  EXPECT_EQ(ParamNames(received[1].body), (Names{"username", "sealid", "remark", "enc"}));
  EXPECT_EQ(ParamNames(received[2].body), (Names{"content", "enc"}));
  std::set<std::string> keys;
  for (const auto &request : received) {
    EXPECT_EQ(request.method, "POST");
    std::string key = ParamValue(request.body, "enc");
    EXPECT_TRUE(std::regex_match(key, std::regex("[A-Za-z0-9]{16}"))) << key;
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 3u) << "a response key was reused";
}

TEST_F(Transactions, TypeFlagCountsOnlyItsLowByte) {
  struct Case {
    int flag;
    const char *type;
  };
  for (Case c : {Case{1, "0"}, Case{0, "1"}, Case{256, "1"}, Case{0x101, "0"}}) {
    int status = 0;
    kel_->VerifySeal(Url().c_str(), "Acme", "S-1", "t", c.flag, &status);
    EXPECT_EQ(ParamValue(server_->Received().back().body, "type"), c.type) << c.flag;
  }
}

TEST_F(Transactions, SendSealRecordDeliversTheResultTextAndTheServerRecordsIt) {
  for (const char *format : {"format=document", "format=framed"}) {
    char *result = nullptr;
    EXPECT_EQ(kel_->SendSealRecord("alice", "S-1", "a remark & more", Url(format).c_str(), &result),
              0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result), "0,0,recorded");
    EXPECT_EQ(kel_->LastError(), "");
    kel_->Take(result);
  }
  std::string records = ReadFile(dir_ / "records");
  EXPECT_NE(records.find("\talice\tS-1\ta remark & more\n"), std::string::npos) << records;
}

// Whatever a verified answer says is the server's own text, even the text the
// library once used for "no answer at all".
TEST_F(Transactions, SendSealRecordDeliversAnyVerifiedText) {
  char *result = nullptr;
  std::string url = Url("format=framed&result=msg%20undefine");
  EXPECT_EQ(kel_->SendSealRecord("alice", "S-1", "", url.c_str(), &result), 0);
  EXPECT_EQ(kel_->Take(result), "msg undefine");
  EXPECT_EQ(kel_->LastError(), "");
}

// A kept connection that closes after the server took a request, before it
// answered: the library must not send the request again on a new one. A use
// of a seal recorded twice is a corrupted audit trail. The connection is one
// to the server (a load balancer in front of it) or one to the forward proxy
// named by http_proxy.
TEST_F(Transactions, ARequestReachesTheServerAtMostOnce) {
  AnswerDroppingProxy proxy(server_->port());
  ASSERT_TRUE(proxy.Start());
  setenv("http_proxy", proxy.url().c_str(), 1);
  LoadedKel proxied(FixtureFile("dev-only-document-server-key.pub"));
  unsetenv("http_proxy");
  const std::pair<LoadedKel *, std::string> ways[] = {
      {kel_.get(), proxy.url()},
      {&proxied, "http://seal.invalid:" + std::to_string(server_->port()) + "/"}};
  const int kCalls = 4;
  int failed = 0;
  for (const auto &[kel, url] : ways) {
    for (int call = 0; call < kCalls; ++call) {
      std::string remark = "use " + std::to_string(call) + " via " + url;
      char *result = nullptr;
      int status = kel->SendSealRecord("alice", "S-1", remark.c_str(), url.c_str(), &result);
      if (status == 0) {
        EXPECT_EQ(kel->Take(result), "0,0,recorded") << remark;
      } else {
        EXPECT_EQ(kel->LastError(), msg::kServerUnreachable) << remark;
        ++failed;
      }
      // Verdicts go the same way.
      int verdict = 0;
      if (kel->VerifySeal(url.c_str(), "Acme", "S-1", remark.c_str(), 1, &verdict) != 0) {
        EXPECT_EQ(kel->LastError(), msg::kServerUnreachable) << remark;
        ++failed;
      }
    }
  }
  proxy.Stop();
  EXPECT_GE(proxy.dropped(), 2);
  EXPECT_EQ(failed, proxy.dropped());
  // Every request the server saw came from one call: one record per use,
  // and the verdicts' requests no more often than they were made.
  std::string records = ReadFile(dir_ / "records");
  for (const auto &way : ways) {
    for (int call = 0; call < kCalls; ++call) {
      std::string line = "\talice\tS-1\tuse " + std::to_string(call) + " via " + way.second + "\n";
      std::size_t first = records.find(line);
      EXPECT_NE(first, std::string::npos) << records;
      EXPECT_EQ(records.find(line, first + 1), std::string::npos) << records;
    }
  }
  EXPECT_EQ(proxy.forwarded(), 2 * 2 * kCalls);
}

// Sets an environment variable for the children a test starts.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char *name, const char *value) : name_(name) {
    const char *previous = std::getenv(name);
    had_ = previous != nullptr;
    if (had_) previous_ = previous;
    setenv(name, value, 1);
  }
  ~ScopedEnvironment() {
    if (had_) {
      setenv(name_, previous_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char *name_;
  bool had_ = false;
  std::string previous_;
};

// A host that exits while another of its threads is inside a call: the
// process ends cleanly, whatever the call was doing at that moment.
TEST_F(Transactions, AHostThatExitsDuringACallEndsCleanly) {
  // Leaks of the thread cut off by exit() are no finding here.
  ScopedEnvironment no_leak_check("ASAN_OPTIONS", "detect_leaks=0");
  std::string url = Url("format=framed");
  for (int run = 0; run < 100; ++run) {
    // Exits at every point of a call: name resolution to decryption.
    std::string delay_us = std::to_string(500 + run * 150);
    ChildResult result =
        RunChild(KEL_HOST_PROBE, {"exit", KEL_LIBRARY, url, delay_us}, dir_.path());
    EXPECT_EQ(result.exit_code, 0)
        << "exit after " << delay_us << " us" << (result.timed_out ? ": hung" : "");
  }
}

// The exit of a host whose other thread is inside a call, made certain: an
// exit handler that runs after the library's own waits for that call to
// finish, then makes one more. The call in progress finishes with the
// library's objects intact; a call after the library's end (or after an exit
// with no call in progress, when those objects are gone) fails at once.
TEST_F(Transactions, CallsAroundTheLibrarysEndAtExit) {
  const struct {
    const char *mode;
    std::string url;
    const char *output;
  } cases[] = {
      {"busy", Url("format=framed&delay_ms=2000"), "in flight 0\nlate 1\n"},
      {"idle", Url("format=framed"), "late 1\n"},
  };
  for (const auto &c : cases) {
    ChildResult result =
        RunChild(KEL_HOST_PROBE, {"late", KEL_LIBRARY, c.url, c.mode}, dir_.path());
    EXPECT_EQ(result.exit_code, 0) << c.mode;
    EXPECT_EQ(result.output, c.output) << c.mode;
  }
}

// A program the host starts does not inherit the library's kept connections.
TEST_F(Transactions, ProgramsTheHostStartsInheritNoConnection) {
  ChildResult result =
      RunChild(KEL_HOST_PROBE, {"inherit", KEL_LIBRARY, Url("format=framed")}, dir_.path());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "connections 1 inherited 0\n");
}

TEST_F(Transactions, SendSealRecordWithoutAnOutputSendsNothing) {
  EXPECT_EQ(kel_->SendSealRecord("alice", "S-1", "", Url().c_str(), nullptr), 1);
  EXPECT_EQ(kel_->LastError(), msg::kBadArgument);
  EXPECT_TRUE(server_->Received().empty());
}

TEST_F(Transactions, EmptyTextsAreSentAsEmptyValues) {
  char *result = nullptr;
  EXPECT_EQ(kel_->SendSealRecord("", "", "", Url().c_str(), &result), 0);
  kel_->Take(result);
  EXPECT_EQ(server_->Received().back().body.substr(0, 25), "username=&sealid=&remark=");
}

// An error page or any other body that is no answer at all: the record was
// not stored, so the host must not be told it was.
TEST_F(Transactions, BodyThatIsNoDocumentFailsEveryTransaction) {
  char sentinel = 0;
  for (const char *fault : {"fault=not-document", "fault=http-500"}) {
    char *result = &sentinel;
    EXPECT_EQ(kel_->SendSealRecord("a", "S-1", "", Url(fault).c_str(), &result), 1) << fault;
    EXPECT_EQ(result, &sentinel);
    EXPECT_EQ(kel_->LastError(), msg::kBadAnswerFormat);

    int status = 7;
    EXPECT_EQ(kel_->VerifySeal(Url(fault).c_str(), "Acme", "S-1", "t", 1, &status), 1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);

    // No time and no signature are made up from such a body.
    char *time = &sentinel;
    char *signature = &sentinel;
    EXPECT_EQ(kel_->GetServerTime(&time, &signature, "c", Url(fault).c_str()), 1);
    EXPECT_EQ(time, &sentinel);
    EXPECT_EQ(signature, &sentinel);
    EXPECT_EQ(kel_->LastError(), msg::kTransactionFailed);
  }
}

// Every failure row that a server can produce, through each transaction.
struct FailureRow {
  const char *query;
  const char *message;
};

class TransactionFailures : public SealServerTest,
                            public ::testing::WithParamInterface<FailureRow> {};

TEST_P(TransactionFailures, EachTransactionFailsWithTheExchangesMessage) {
  const FailureRow &row = GetParam();
  std::string url = Url(row.query);

  int status = 7;
  EXPECT_EQ(kel_->VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status), 1);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(kel_->LastError(), row.message);

  // Outputs start from a sentinel: a failure leaves them alone, it does not
  // clear them.
  char sentinel = 0;
  char *result = &sentinel;
  EXPECT_EQ(kel_->SendSealRecord("a", "S-1", "r", url.c_str(), &result), 1);
  EXPECT_EQ(result, &sentinel);
  EXPECT_EQ(kel_->LastError(), row.message);

  char *time = &sentinel;
  char *signature = &sentinel;
  EXPECT_EQ(kel_->GetServerTime(&time, &signature, "content", url.c_str()), 1);
  EXPECT_EQ(time, &sentinel);
  EXPECT_EQ(signature, &sentinel);
  EXPECT_EQ(kel_->LastError(), row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransactionFailures,
    ::testing::Values(
        FailureRow{"fault=empty-body", msg::kServerUnreachable},
        FailureRow{"fault=close-early", msg::kServerUnreachable},
        FailureRow{"fault=oversize", msg::kServerUnreachable},
        FailureRow{"fault=no-data", msg::kBadAnswerFormat},
        FailureRow{"fault=undecryptable-data", msg::kAnswerDecryptFailed},
        FailureRow{"fault=inner-not-document", msg::kBadAnswerFormat},
        FailureRow{"fault=no-sign", msg::kBadAnswerFormat},
        FailureRow{"fault=empty-sign", msg::kBadAnswerFormat},
        FailureRow{"fault=no-order", msg::kBadAnswerFormat},
        FailureRow{"fault=empty-order", msg::kBadAnswerFormat},
        FailureRow{"fault=bad-signature", msg::kAnswerNotVerified},
        FailureRow{"fault=no-status-or-date", msg::kBadAnswerFormat},
        FailureRow{"format=framed&fault=frame-short-length", msg::kBadAnswerFormat},
        FailureRow{"format=framed&fault=frame-undecryptable", msg::kAnswerDecryptFailed},
        FailureRow{"format=framed&fault=frame-no-inner-tag", msg::kBadAnswerFormat},
        FailureRow{"format=framed&fault=frame-bad-signature", msg::kAnswerNotVerified},
        FailureRow{"format=framed&fault=frame-negative-signature-length", msg::kBadAnswerFormat},
        FailureRow{"format=framed&fault=frame-long-signature-length", msg::kBadAnswerFormat},
        FailureRow{"format=framed&fault=frame-empty-signature", msg::kAnswerNotVerified}));

TEST_F(Transactions, UnreachableServersReportTheExchangesMessage) {
  // A port that was just free: nothing listens there.
  int closed_port = server_->port();
  server_->Stop();
  for (std::string url : {"http://127.0.0.1:" + std::to_string(closed_port) + "/",
                          std::string("http://no-such-host.invalid/"), std::string("")}) {
    int status = 7;
    EXPECT_EQ(kel_->VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status), 1) << url;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kel_->LastError(), msg::kServerUnreachable) << url;
  }
}

// The verdict form of the result text, driven through framed answers whose
// signed content is the text itself.
struct VerdictRow {
  const char *result;
  int code;
  int status;
  std::string description;
};

class VerdictForms : public SealServerTest, public ::testing::WithParamInterface<VerdictRow> {};

TEST_P(VerdictForms, ResultStatusAndDescription) {
  const VerdictRow &row = GetParam();
  std::string query = "format=framed&result=";
  for (unsigned char c : std::string(row.result)) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", c);
    query += escaped;
  }
  int status = -1;
  EXPECT_EQ(kel_->VerifySeal(Url(query).c_str(), "Acme", "S-1", "t", 1, &status), row.code);
  EXPECT_EQ(status, row.status);
  EXPECT_EQ(kel_->LastError(), row.description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VerdictForms,
    ::testing::Values(VerdictRow{"0,0,", 0, 0, ""}, VerdictRow{"0,,abc", 0, 0, "abc"},
                      VerdictRow{"0,7,a,b", 0, 7, "a,b"}, VerdictRow{"X,3,d", 0, 3, "d"},
                      VerdictRow{"0, 42,d", 0, 42, "d"}, VerdictRow{"0,-5,d", 0, -5, "d"},
                      VerdictRow{"0,abc,d", 0, 0, "d"},
                      VerdictRow{"0,12345678,d", 0, 12345678, "d"},
                      VerdictRow{"0,123456789,d", 1, 1, msg::kTransactionFailed},
                      VerdictRow{"0,1", 1, 1, msg::kTransactionFailed},
                      // The second character must be the comma.
                      VerdictRow{"10,3,d", 1, 1, msg::kTransactionFailed},
                      VerdictRow{"0,12", 1, 1, msg::kTransactionFailed},
                      VerdictRow{"1", 1, 1, msg::kTransactionFailed}));

// A host may cancel a thread that waits for the server. The cancellation
// unwinds through the export, which must let it pass rather than end the
// process, and the library serves the next call.
TEST_F(Transactions, CancelledThreadEndsAndTheLibraryGoesOn) {
  struct Call {
    LoadedKel *kel;
    std::string url;
  } call{kel_.get(), Url("delay_ms=1500")};
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void *context) -> void * {
                  auto *c = static_cast<Call *>(context);
                  int status = 0;
                  c->kel->VerifySeal(c->url.c_str(), "Acme", "S-1", "t", 1, &status);
                  return nullptr;
                },
                &call),
            0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(pthread_cancel(thread), 0);
  void *result = nullptr;
  ASSERT_EQ(pthread_join(thread, &result), 0);
  EXPECT_EQ(result, PTHREAD_CANCELED);

  int status = -1;
  EXPECT_EQ(kel_->VerifySeal(Url().c_str(), "Acme", "S-1", "t", 1, &status), 0);
  EXPECT_EQ(status, 0);
}

// No lock is held across the network: a call that waits on a silent server
// must not hold up another thread's transactions.
TEST_F(Transactions, ACallWaitingOnASilentServerHoldsUpNoOtherThread) {
  auto silent = std::make_unique<RecordingServer>();
  CannedAnswer never;
  never.delay = std::chrono::minutes(5);  // ends early when the server stops
  silent->SetDefaultAnswer(never);
  std::atomic<bool> waiting_call_returned{false};
  std::thread waiting([&] {
    int status = 0;
    kel_->VerifySeal(silent->Url("/x").c_str(), "Acme", "S-1", "t", 1, &status);
    waiting_call_returned = true;
  });
  // The request has arrived: the other thread is inside its exchange.
  for (int i = 0; i < 500 && silent->Requests().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(silent->Requests().empty());

  int completed = 0;
  for (int i = 0; i < 100; ++i) {
    int status = -1;
    if (kel_->VerifySeal(Url().c_str(), "Acme", "S-1", "t", 1, &status) == 0 && status == 0) {
      ++completed;
    }
  }
  EXPECT_EQ(completed, 100);
  EXPECT_FALSE(waiting_call_returned) << "the silent exchange ended before the others";
  silent.reset();  // the waiting call now fails and returns
  waiting.join();
}

}  // namespace
}  // namespace kel::test
