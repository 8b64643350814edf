// HttpRequest against a real HTTP server on loopback.
#include "net/http_request.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/body_accumulator.h"
#include "net/http_transport.h"
#include "net/proxy_rules.h"
#include "shared/transport_deadline_cases.h"
#include "support/answer_dropping_proxy.h"
#include "support/raw_listener.h"
#include "support/recording_server.h"

// A name whose lookup never ends: the resolver is held for far longer than
// any deadline of these tests. Every other name is looked up as usual.
constexpr char kUnresolvableHost[] = "resolver-never-answers.invalid";

extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints,
                           addrinfo **result) {
  using Lookup = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
  static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (node != nullptr && std::strcmp(node, kUnresolvableHost) == 0) {
    std::this_thread::sleep_for(std::chrono::seconds(20));
    return EAI_AGAIN;
  }
  return real(node, service, hints, result);
}

namespace kel {
namespace {

using std::chrono::milliseconds;
using test::CannedAnswer;
using test::RecordingServer;

RequestParam Param(const std::string &name, const std::string &value) {
  return RequestParam{name, SecretText(value.data(), value.size())};
}

std::string Send(const std::string &url) { return HttpRequest(url.c_str(), true).Send(); }

// Text of `size` bytes that shows where a byte was lost or repeated.
std::string Pattern(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += std::to_string(i) + ",";
  text.resize(size);
  return text;
}

class ShortTimeouts {
 public:
  explicit ShortTimeouts(TransportTimeouts timeouts)
      : previous_(SetTransportTimeoutsForTesting(timeouts)) {}
  ~ShortTimeouts() { SetTransportTimeoutsForTesting(previous_); }

 private:
  TransportTimeouts previous_;
};

// The proxy variables for the exchanges of one scope, as if read at load.
class ScopedProxyVariables {
 public:
  explicit ScopedProxyVariables(ProxyVariables variables)
      : previous_(SetProxyVariables(std::move(variables))) {}
  ~ScopedProxyVariables() { SetProxyVariables(previous_); }

 private:
  ProxyVariables previous_;
};

TEST(BuildQueryTest, JoinsEscapedPairsInTheOrderAppended) {
  HttpRequest request("http://host/x", true);
  EXPECT_EQ(request.BuildQuery(), "");
  request.AddParam(Param("username", "\xD5\xC5 san"));
  request.AddParam(Param("sealid", "ab+/cd=="));
  request.AddParam(Param("remark", ""));
  request.AddParam(Param("enc", "k&y=1"));
  EXPECT_EQ(request.BuildQuery(),
            "username=%D5%C5%20san&sealid=ab%2B/cd%3D%3D&remark=&enc=k%26y%3D1");
}

TEST(HttpRequestTest, PostsTheFormToTheTargetAsWinInetDoes) {
  RecordingServer server;
  server.SetDefaultAnswer(test::Answer(200, "answer"));
  HttpRequest request(server.Url("/x/y?z=1").c_str(), true);
  request.AddParam(Param("a", "1"));
  request.AddParam(Param("enc", "K+/="));
  EXPECT_EQ(request.Send(), "answer");

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto &seen = requests[0];
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.target, "/x/y?z=1");
  EXPECT_EQ(seen.Header("User-Agent"), "MyAgent");
  EXPECT_EQ(seen.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen.Header("Accept"), "*/*");
  EXPECT_EQ(seen.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_FALSE(seen.HasHeader("Expect"));
  EXPECT_EQ(seen.body, "a=1&enc=K%2B/%3D");
}

// Checked on the raw request line: an HTTP server library would decode the
// target or drop its fragment before a test could see it.
TEST(HttpRequestTest, RendersObjectNamesAsWinInetDoes) {
  struct Case {
    std::string path;  // behind "http://127.0.0.1:port"
    std::string target;
  };
  for (const Case &c :
       {Case{"/", "/"}, Case{"", "/"}, Case{"?a=1", "/?a=1"}, Case{"/a b", "/a%20b"},
        Case{"//h:8080/x", "/h:8080/x"}, Case{"/x#frag", "/x"}, Case{"/a/../b", "/a/../b"},
        Case{"/%41", "/%41"}, Case{"/\xC4\xE3\r\n", "/%C4%E3%0D%0A"}}) {
    test::RawListener listener;
    std::string port = std::to_string(listener.port());
    std::string target = c.target;
    if (target.find("PORT") != std::string::npos) target.replace(target.find("PORT"), 4, port);
    auto head = std::async(std::launch::async,
                           [&] { return listener.AcceptAndRead(milliseconds(1500), 200); });
    Send("http://127.0.0.1:" + port + c.path);
    EXPECT_EQ(head.get().substr(0, target.size() + 16), "POST " + target + " HTTP/1.1\r\n");
  }
}

TEST(HttpRequestTest, NoParametersPostAnEmptyBody) {
  RecordingServer server;
  EXPECT_EQ(Send(server.Url("/x")), "ok");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[0].Header("Content-Length"), "0");
}

TEST(HttpRequestTest, GetCarriesTheQueryInTheTarget) {
  RecordingServer server;
  HttpRequest request(server.Url("/x?a=1").c_str(), false);
  request.AddParam(Param("b", "2 3"));
  EXPECT_EQ(request.Send(), "ok");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/x?a=1&b=2%203");
}

TEST(HttpRequestTest, ReturnsAnAnswerReadInPiecesOfVaryingSize) {
  RecordingServer server;
  CannedAnswer answer;
  answer.body = Pattern(6000);
  answer.piece_sizes = {1024, 1, 300, 2000, 7, 1024, 1644};  // 6000 in all
  answer.pause = milliseconds(15);
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), answer.body);
}

TEST(HttpRequestTest, ReturnsTheBodyOfErrorAnswers) {
  RecordingServer server;
  server.SetAnswer("/missing", test::Answer(404, "no such page"));
  server.SetAnswer("/broken", test::Answer(500, "server fault"));
  EXPECT_EQ(Send(server.Url("/missing")), "no such page");
  EXPECT_EQ(Send(server.Url("/broken")), "server fault");
}

// The status and headers of an answer play no part: a redirect's own body is
// the answer.
TEST(HttpRequestTest, ARedirectIsNotFollowed) {
  RecordingServer server;
  CannedAnswer moved = test::Answer(302, "moved");
  moved.headers = {{"Location", "/target"}};
  server.SetAnswer("/start", moved);
  EXPECT_EQ(Send(server.Url("/start")), "moved");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpRequestTest, FailuresToReachTheServerGiveAnEmptyBody) {
  int closed_port;
  {
    test::RawListener listener;
    closed_port = listener.port();
  }
  EXPECT_EQ(Send("http://127.0.0.1:" + std::to_string(closed_port) + "/x"), "");
  EXPECT_EQ(Send("http://no-such-host.invalid/x"), "");
  EXPECT_EQ(Send("host-without-scheme/x"), "");

  // A port beyond 65535 is refused, not cut to its low 16 bits: nothing
  // reaches the server listening on those bits.
  {
    RecordingServer server;
    EXPECT_EQ(Send("http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/x"), "");
    EXPECT_TRUE(server.Requests().empty());
  }

  // Accepted, then closed without an answer.
  test::RawListener listener;
  auto read =
      std::async(std::launch::async, [&] { return listener.AcceptAndRead(milliseconds(1500), 4); });
  EXPECT_EQ(Send("http://127.0.0.1:" + std::to_string(listener.port()) + "/x"), "");
  EXPECT_EQ(read.get(), "POST");
}

TEST(HttpRequestTest, ABodyCutShortKeepsWhatArrived) {
  RecordingServer server;
  CannedAnswer answer;
  answer.body = Pattern(3000);
  answer.piece_sizes = {1000};
  answer.close_after = 2000;
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), answer.body.substr(0, 2000));
}

TEST(HttpRequestTest, TheBodyEndsAtTheFirstZeroByte) {
  RecordingServer server;
  CannedAnswer answer;
  answer.body = std::string("ab\0cd", 5) + "efgh";
  answer.piece_sizes = {5, 4};  // zero inside the first read, more bytes in a later one
  answer.pause = milliseconds(20);
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), "ab");

  answer.body = "abc" + std::string("\0def", 4);
  answer.piece_sizes = {3, 4};  // zero opens a later read
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), "abc");
}

TEST(HttpRequestTest, AnAnswerAsLongAsTheBoundIsKept) {
  RecordingServer server;
  CannedAnswer answer;
  answer.body = std::string(BodyAccumulator::kMaxAnswerBytes, 'a');
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")).size(), BodyAccumulator::kMaxAnswerBytes);
}

TEST(HttpRequestTest, AnAnswerOneByteOverTheBoundIsAbandoned) {
  RecordingServer server;
  CannedAnswer answer;
  answer.body = std::string(BodyAccumulator::kMaxAnswerBytes + 1, 'a');
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), "");
}

TEST(HttpRequestTest, ASilentServerTimesOutWithAnEmptyBody) {
  ShortTimeouts timeouts({500, 1});
  RecordingServer server;
  CannedAnswer silent;
  silent.delay = milliseconds(10000);
  server.SetDefaultAnswer(silent);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(server.Url("/x")), "");
  // Far below the default minute, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
}

TEST(HttpRequestTest, ASlowButSteadyAnswerIsNotCutOff) {
  ShortTimeouts timeouts({500, 1});
  RecordingServer server;
  CannedAnswer answer;
  answer.body = Pattern(40);
  answer.piece_sizes = {8};
  answer.pause = milliseconds(300);  // 1.2 s in all, never 1 s without a byte
  server.SetDefaultAnswer(answer);
  EXPECT_EQ(Send(server.Url("/x")), answer.body);
}

TEST(HttpRequestTest, AConnectionThatCannotBeOpenedTimesOut) {
  ShortTimeouts timeouts({300, 1});
  test::RawListener listener(0);
  ASSERT_TRUE(listener.FillAcceptQueue());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send("http://127.0.0.1:" + std::to_string(listener.port()) + "/x"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
}

// The connect and stall limits are far longer than the deadline here, so
// only the deadline can end these exchanges: one that trickles its answer
// (never a stall), one whose server stays silent, one that never connects.
TEST(HttpRequestTest, TheTotalDeadlineEndsAnExchangeInAnyPhase) {
  ShortTimeouts timeouts(test::kDeadlineOnlyTimeouts);
  RecordingServer server;
  test::RawListener unaccepting(0);
  ASSERT_TRUE(unaccepting.FillAcceptQueue());
  test::AnswerDroppingProxy hanging_proxy(server.port(), 0);
  hanging_proxy.HoldTunnels(true);
  ASSERT_TRUE(hanging_proxy.Start());
  struct Row {
    std::string url;
    TransportPhase phase;  // where the deadline finds the exchange
    std::string https_proxy = "";
  };
  std::vector<Row> rows;
  // The answers both transports are tested with, each at a path of its own.
  for (const test::DeadlineCase &c : test::kDeadlineCases) {
    CannedAnswer answer;
    answer.body = Pattern(c.body_bytes);
    answer.piece_sizes = {1};
    answer.pause = milliseconds(c.pause_ms);
    if (c.silent) answer.delay = milliseconds(30000);
    const std::string path = "/case" + std::to_string(rows.size());
    server.SetAnswer(path, answer);
    rows.push_back(Row{server.Url(path), c.phase});
  }
  rows.push_back(Row{"http://127.0.0.1:" + std::to_string(unaccepting.port()) + "/x",
                     TransportPhase::kConnect});
  // A resolver that never answers is not waited for either.
  rows.push_back(
      Row{std::string("http://") + kUnresolvableHost + "/x", TransportPhase::kNameLookup});
  // Nor a proxy that never opens the tunnel.
  rows.push_back(Row{"https://seal.invalid/x", TransportPhase::kConnect, hanging_proxy.url()});
  for (const Row &row : rows) {
    SCOPED_TRACE(row.url);
    ScopedProxyVariables proxy({"", row.https_proxy, "", ""});
    auto start = std::chrono::steady_clock::now();
    HttpRequest request(row.url.c_str(), true);
    EXPECT_EQ(request.Send(), "");  // never the part of the trickle that arrived
    auto took_ms =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took_ms, test::kDeadlineEarliestMs);  // the deadline, not an earlier failure
    EXPECT_LT(took_ms, test::kDeadlineLatestMs);
    EXPECT_EQ(request.result().end, TransportEnd::kTimedOut);
    EXPECT_EQ(request.result().phase, row.phase);
  }
}

// ---- connections kept between exchanges -------------------------------------

// Exchanges with a server go over one connection, whichever other servers
// the library talks to in between, up to as many servers as the pool keeps
// connections for; with reuse switched off (the benchmark's fresh-connection
// figure), each opens its own.
TEST(HttpRequestTest, ExchangesWithAServerShareItsConnection) {
  RecordingServer servers[4];  // as many as the pool keeps idle
  for (int i = 0; i < 5; ++i) {
    for (RecordingServer &server : servers) EXPECT_EQ(Send(server.Url("/x")), "ok");
  }
  for (RecordingServer &server : servers) EXPECT_EQ(server.Connections(), 1u);

  // A kept handle starts from scratch: a GET after a POST on the same
  // connection carries nothing of the POST.
  RecordingServer &first = servers[0];
  HttpRequest get(first.Url("/get").c_str(), false);
  EXPECT_EQ(get.Send(), "ok");
  EXPECT_EQ(first.Requests().back().method, "GET");
  EXPECT_EQ(first.Requests().back().body, "");
  EXPECT_EQ(first.Connections(), 1u);

  bool reuse = SetTransportReuseForTesting(false);
  EXPECT_EQ(Send(first.Url("/x")), "ok");
  EXPECT_EQ(Send(first.Url("/x")), "ok");
  SetTransportReuseForTesting(reuse);
  EXPECT_EQ(first.Connections(), 3u);
}

// The shipped limits, at a twentieth of their length: the total deadline
// (120 s) ends an answer that trickles without ever stalling, the stall
// limit (60 s) one that sends a little and then goes silent, the connect
// limit (60 s) a connection that is never accepted.
TEST(HttpRequestTest, TheShippedLimitsHold) {
  // The stall limit counts whole seconds and is checked about once a second,
  // so the limits are kept long enough to tell each from the next.
  const int kScale = 20;
  struct RestoreTimeouts {
    TransportTimeouts previous;
    ~RestoreTimeouts() { SetTransportTimeoutsForTesting(previous); }
  } restore{ScaleTransportTimeoutsForTesting(kScale)};  // also when an assertion returns early
  CannedAnswer trickle;
  trickle.body = Pattern(100);
  trickle.piece_sizes = {1};
  trickle.pause = milliseconds(300);
  CannedAnswer goes_silent;
  goes_silent.body = Pattern(100);
  goes_silent.piece_sizes = {5};
  goes_silent.pause = milliseconds(30000);
  RecordingServer server;
  server.SetAnswer("/trickle", trickle);
  server.SetAnswer("/silent", goes_silent);
  test::RawListener unaccepting(0);
  ASSERT_TRUE(unaccepting.FillAcceptQueue());
  struct Row {
    std::string url;
    long limit_ms;  // the shipped limit that must end it
  };
  // The shipped limits written out, not read from the constants: a changed
  // constant must fail here.
  const long kTotalMs = 120 * 1000, kStallMs = 60 * 1000, kConnectMs = 60 * 1000;
  for (const Row &row : {
           Row{server.Url("/trickle"), kTotalMs / kScale},
           Row{server.Url("/silent"), kStallMs / kScale},
           Row{"http://127.0.0.1:" + std::to_string(unaccepting.port()) + "/x",
               kConnectMs / kScale},
       }) {
    SCOPED_TRACE(row.url);
    auto start = std::chrono::steady_clock::now();
    HttpRequest request(row.url.c_str(), true);
    EXPECT_EQ(request.Send(), "");
    auto took_ms =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(request.result().end, TransportEnd::kTimedOut);
    EXPECT_GE(took_ms, row.limit_ms - 100);
    // Room for the stall check's pace and a loaded machine, but less than
    // a limit 1.5 times as long (or the next limit) would give.
    EXPECT_LT(took_ms, row.limit_ms * 5 / 4 + 500);
  }
}

// An exchange that fails or stops reading early leaves its connection
// closed: the next exchange opens a fresh one and reads its own answer, not
// the rest of the last one.
TEST(HttpRequestTest, AnExchangeCutShortLeavesNoConnectionToReuse) {
  ShortTimeouts timeouts({500, 1});
  CannedAnswer closed_early = test::Answer(200, Pattern(3000));
  closed_early.close_after = 1000;
  CannedAnswer too_long = test::Answer(200, std::string(BodyAccumulator::kMaxAnswerBytes + 1, 'a'));
  CannedAnswer zero_byte = test::Answer(200, std::string("ab\0cd", 5) + Pattern(100000));
  CannedAnswer stalled;
  stalled.delay = milliseconds(10000);
  const std::pair<const char *, CannedAnswer> rows[] = {{"closed early", closed_early},
                                                        {"too long", too_long},
                                                        {"ended by a zero byte", zero_byte},
                                                        {"timed out", stalled}};
  for (const auto &[what, answer] : rows) {
    SCOPED_TRACE(what);
    RecordingServer server;
    server.SetAnswer("/fault", answer);
    EXPECT_EQ(Send(server.Url("/x")), "ok");
    Send(server.Url("/fault"));
    EXPECT_EQ(Send(server.Url("/x")), "ok");
    EXPECT_EQ(Send(server.Url("/x")), "ok");
    EXPECT_EQ(server.Connections(), 2u);
  }
}

// Threads exchange at the same time, each over a connection of its own and
// each with its own answer; the connections kept stay few.
TEST(HttpRequestTest, ThreadsExchangeAtOnceEachWithItsOwnAnswer) {
  constexpr int kThreads = 4;
  constexpr int kExchanges = 25;
  RecordingServer server;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kExchanges; ++i) {
      std::string path = "/" + std::to_string(t) + "-" + std::to_string(i);
      server.SetAnswer(path, test::Answer(200, path + Pattern(1000 * i)));
    }
  }
  std::vector<std::future<int>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::async(std::launch::async, [&server, t] {
      int right = 0;
      for (int i = 0; i < kExchanges; ++i) {
        std::string path = "/" + std::to_string(t) + "-" + std::to_string(i);
        right += Send(server.Url(path)) == path + Pattern(1000 * i);
      }
      return right;
    }));
  }
  for (auto &thread : threads) EXPECT_EQ(thread.get(), kExchanges);
  EXPECT_LE(server.Connections(), static_cast<std::size_t>(kThreads));
}

// A forked child must not use the connections of its parent: both would
// write to one socket. It opens its own, and the parent's stays in use.
TEST(HttpRequestTest, AForkedChildOpensAConnectionOfItsOwn) {
  RecordingServer server;
  EXPECT_EQ(Send(server.Url("/x")), "ok");
  int result[2];
  ASSERT_EQ(pipe(result), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char answered = Send(server.Url("/x")) == "ok" ? 'y' : 'n';
    _exit(write(result[1], &answered, 1) == 1 ? 0 : 1);
  }
  close(result[1]);
  char answered = 0;
  EXPECT_EQ(read(result[0], &answered, 1), 1);
  close(result[0]);
  EXPECT_EQ(answered, 'y');
  waitpid(child, nullptr, 0);
  EXPECT_EQ(Send(server.Url("/x")), "ok");
  EXPECT_EQ(server.Connections(), 2u);
}

// With a proxy from the variables: a plain http request goes to it with its
// target in absolute form, an https one through a CONNECT tunnel (never in
// clear), and a host that no_proxy names goes direct. The proxy reaches the
// server whatever host the URL names; that name is never resolved here.
TEST(HttpRequestTest, ExchangesGoThroughTheProxyUnlessNoProxyNamesTheHost) {
  RecordingServer server;
  test::AnswerDroppingProxy proxy(server.port(), 0);
  ASSERT_TRUE(proxy.Start());
  const std::string port = std::to_string(server.port());
  ScopedProxyVariables variables({proxy.url(), proxy.url(), "", "direct.invalid"});
  HttpRequest request(("http://seal.invalid:" + port + "/x?a=1").c_str(), true);
  request.AddParam(Param("enc", "key"));
  EXPECT_EQ(request.Send(), "ok");
  EXPECT_EQ(Send("https://seal.invalid:" + port + "/x"), "");  // no TLS server behind it
  EXPECT_EQ(Send("http://direct.invalid:" + port + "/x"), "");
  EXPECT_EQ(Send("http://www.direct.invalid:" + port + "/x"), "");
  EXPECT_EQ(proxy.RequestLines(),
            (std::vector<std::string>{"POST http://seal.invalid:" + port + "/x?a=1 HTTP/1.1",
                                      "CONNECT seal.invalid:" + port + " HTTP/1.1"}));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/x?a=1");
  EXPECT_EQ(requests[0].Header("Host"), "seal.invalid:" + port);
  EXPECT_EQ(requests[0].body, "enc=key");
}

TEST(HttpRequestTest, AnHttpsUrlIsNeverSentInClear) {
  // A plain HTTP server sees no request, only a TLS handshake it cannot read.
  RecordingServer server;
  std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/x";
  HttpRequest request(url.c_str(), true);
  request.AddParam(Param("enc", "secret-key"));
  EXPECT_EQ(request.Send(), "");
  EXPECT_TRUE(server.Requests().empty());

  test::RawListener listener;
  auto first =
      std::async(std::launch::async, [&] { return listener.AcceptAndRead(milliseconds(1500), 1); });
  EXPECT_EQ(Send("https://127.0.0.1:" + std::to_string(listener.port()) + "/x"), "");
  EXPECT_EQ(first.get(), "\x16");  // a TLS handshake record
}

}  // namespace
}  // namespace kel
