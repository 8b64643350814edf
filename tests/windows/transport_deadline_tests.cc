// The WinINet transport's deadline and how its exchanges end, against a
// server on loopback that this program runs itself on a Winsock thread: an
// answer that trickles in a byte at a time never trips WinINet's receive
// time-out, and a server that never answers holds the wait for its answer;
// both must end at the deadline, reported as a time-out. The transport is
// compiled in, since Kel.dll's exports cannot shorten the deadline.
#include <winsock2.h>
// Order matters: winsock2.h must come before windows.h (pulled in below).
#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "net/http_transport.h"
#include "shared/transport_deadline_cases.h"

namespace {

using kel::test::kDeadlineEarliestMs;
using kel::test::kDeadlineLatestMs;
constexpr kel::TransportTimeouts kTimeouts = kel::test::kDeadlineOnlyTimeouts;

struct Answer {
  bool silent = false;   // reads the request and never answers
  bool hang_up = false;  // reads the request and closes the connection
  std::string body;      // after the header, a byte every `pause_ms`
  DWORD pause_ms = 0;
  std::size_t missing = 0;  // announced after `body` but never sent: the connection closes
};

// Listens on 127.0.0.1 and serves every connection in turn with `answer`
// until destroyed. Every wait ends early when the server stops.
class LoopbackServer {
 public:
  explicit LoopbackServer(Answer answer) : answer_(std::move(answer)) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
  }
  LoopbackServer(const LoopbackServer &) = delete;
  LoopbackServer &operator=(const LoopbackServer &) = delete;

  int port() const { return port_; }

 private:
  // Waits up to 50 ms for `socket` to become readable.
  static bool Readable(SOCKET socket) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait = {0, 50 * 1000};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
  }

  bool Pause(DWORD ms) {
    for (ULONGLONG end = GetTickCount64() + ms; !stop_ && GetTickCount64() < end;) Sleep(10);
    return !stop_;
  }

  void Run() {
    while (!stop_) {
      if (!Readable(listener_)) continue;
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      Serve(client);
      closesocket(client);
    }
  }

  void Serve(SOCKET client) {
    std::string request;
    char buffer[1024];
    while (!stop_ && request.find("\r\n\r\n") == std::string::npos) {
      if (!Readable(client)) continue;
      int got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, got);
    }
    if (answer_.silent) {
      Pause(INFINITE);
      return;
    }
    if (answer_.hang_up) return;
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                       std::to_string(answer_.body.size() + answer_.missing) + "\r\n\r\n";
    if (send(client, head.data(), static_cast<int>(head.size()), 0) !=
        static_cast<int>(head.size())) {
      return;
    }
    for (char byte : answer_.body) {
      if (!Pause(answer_.pause_ms) || send(client, &byte, 1, 0) != 1) return;
    }
  }

  Answer answer_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Outcome {
  kel::TransportEnd end = kel::TransportEnd::kNotSent;
  kel::TransportPhase phase = kel::TransportPhase::kNameLookup;
  std::string body;
  ULONGLONG took_ms = 0;
};

// One GET exchange with a server on loopback, under kTimeouts, with the
// deadline that the portable code would set.
Outcome Exchange(const Answer &answer) {
  LoopbackServer server(answer);
  EXPECT_NE(server.port(), 0);
  kel::TransportRequest request;
  request.host = "127.0.0.1";
  request.port = static_cast<std::uint16_t>(server.port());
  request.object_name = "/x";
  request.post = false;
  kel::TransportTimeouts previous = kel::SetTransportTimeoutsForTesting(kTimeouts);
  ULONGLONG start = GetTickCount64();
  request.deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeouts.total_ms);
  Outcome outcome;
  kel::TransportResult result = kel::PerformExchange(request);
  outcome.end = result.end;
  outcome.phase = result.phase;
  outcome.body = result.body;
  outcome.took_ms = GetTickCount64() - start;
  kel::SetTransportTimeoutsForTesting(previous);
  return outcome;
}

// Winsock for the program's servers, from the first test to the last.
class Winsock : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0); }
  void TearDown() override { WSACleanup(); }

 private:
  WSADATA data_;
};

// Read a few bytes at a time, as far as they have arrived.
TEST(TransportDeadlineTest, AnAnswerThatTricklesInBeforeTheDeadlineIsWhole) {
  Answer answer;
  answer.body = "steady";
  answer.pause_ms = 100;
  Outcome outcome = Exchange(answer);
  EXPECT_EQ(outcome.end, kel::TransportEnd::kAnswered);
  EXPECT_EQ(outcome.body, "steady");
}

TEST(TransportDeadlineTest, TheDeadlineEndsAnExchangeInAnyPhase) {
  for (const kel::test::DeadlineCase &c : kel::test::kDeadlineCases) {
    SCOPED_TRACE(c.name);
    Answer answer;
    answer.silent = c.silent;
    answer.body = std::string(c.body_bytes, 't');
    answer.pause_ms = static_cast<DWORD>(c.pause_ms);
    Outcome outcome = Exchange(answer);
    EXPECT_EQ(outcome.end, kel::TransportEnd::kTimedOut);
    EXPECT_EQ(outcome.phase, c.phase);
    EXPECT_GE(outcome.took_ms, static_cast<ULONGLONG>(kDeadlineEarliestMs));
    EXPECT_LT(outcome.took_ms, static_cast<ULONGLONG>(kDeadlineLatestMs));
  }
}

// Wine's WinINet reports neither as a failure: a connection closed before
// the status line leaves a request "sent" with no answer, and a body cut
// short reads as ended.
TEST(TransportDeadlineTest, AConnectionClosedBeforeAnyAnswerFails) {
  Answer answer;
  answer.hang_up = true;
  Outcome outcome = Exchange(answer);
  EXPECT_EQ(outcome.end, kel::TransportEnd::kFailed);
  EXPECT_EQ(outcome.body, "");
}

TEST(TransportDeadlineTest, AConnectionClosedPartWayThroughTheAnswerKeepsWhatArrived) {
  Answer answer;
  answer.body = "part";
  answer.missing = 10;
  Outcome outcome = Exchange(answer);
  EXPECT_EQ(outcome.end, kel::TransportEnd::kCutShort);
  EXPECT_EQ(outcome.body, "part");
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new Winsock);
  return RUN_ALL_TESTS();
}
