// The WinINet transport's deadline and how its exchanges end, against a
// server on loopback that this program runs itself on a Winsock thread: an
// answer that trickles in a byte at a time never trips WinINet's receive
// time-out, and a server that never answers holds the wait for its answer;
// both must end at the deadline, reported as a time-out. The transport is
// compiled in, since Kel.dll's exports cannot shorten the deadline.
//
// Usage: kel_transport_deadline_tests   (arguments are ignored)
// The last line of output is "N passed, N failed"; the exit code is 0 only
// when nothing failed.
#include <winsock2.h>
// Order matters: winsock2.h must come before windows.h (pulled in below).
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "harness.h"
#include "net/http_transport.h"

namespace {

// Far longer than the deadline, so that only the deadline ends an exchange.
constexpr kel::TransportTimeouts kTimeouts = {20000, 20, 1500};
// The earliest an exchange that runs into the deadline may end (the tick
// count moves in steps of about 16 ms), and the latest, with room for a
// loaded machine.
constexpr ULONGLONG kEarliestMs = 1400;
constexpr ULONGLONG kLatestMs = 8000;

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
  CHECK(server.port() != 0);
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

void ReportTime(const Outcome &outcome) {
  if (g_case_failed) {
    std::printf("    took %lu ms, end %d, body \"%s\"\n",
                static_cast<unsigned long>(outcome.took_ms), static_cast<int>(outcome.end),
                outcome.body.c_str());
  }
}

}  // namespace

int main() {
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
    std::printf("Winsock did not start\n0 passed, 1 failed\n");
    return 1;
  }
  Tally tally;

  // Read a few bytes at a time, as far as they have arrived.
  RunCase(&tally, "an answer that trickles in before the deadline is whole", [] {
    Answer answer;
    answer.body = "steady";
    answer.pause_ms = 100;
    Outcome outcome = Exchange(answer);
    CHECK(outcome.end == kel::TransportEnd::kAnswered);
    CHECK(outcome.body == "steady");
    ReportTime(outcome);
  });

  // A byte every 300 ms: 30 s in all, never a stall of the receive time-out.
  RunCase(&tally, "an answer still trickling at the deadline times out", [] {
    Answer answer;
    answer.body = std::string(100, 't');
    answer.pause_ms = 300;
    Outcome outcome = Exchange(answer);
    CHECK(outcome.end == kel::TransportEnd::kTimedOut);
    CHECK(outcome.phase == kel::TransportPhase::kReceive);
    CHECK(outcome.took_ms >= kEarliestMs);
    CHECK(outcome.took_ms < kLatestMs);
    ReportTime(outcome);
  });

  RunCase(&tally, "a server that never answers is left at the deadline", [] {
    Answer answer;
    answer.silent = true;
    Outcome outcome = Exchange(answer);
    CHECK(outcome.end == kel::TransportEnd::kTimedOut);
    CHECK(outcome.phase == kel::TransportPhase::kWait);
    CHECK(outcome.took_ms >= kEarliestMs);
    CHECK(outcome.took_ms < kLatestMs);
    ReportTime(outcome);
  });

  // Wine's WinINet reports neither as a failure: a connection closed before
  // the status line leaves a request "sent" with no answer, and a body cut
  // short reads as ended.
  RunCase(&tally, "a connection closed before any answer fails", [] {
    Answer answer;
    answer.hang_up = true;
    Outcome outcome = Exchange(answer);
    CHECK(outcome.end == kel::TransportEnd::kFailed);
    CHECK(outcome.body.empty());
    ReportTime(outcome);
  });

  RunCase(&tally, "a connection closed part way through the answer keeps what arrived", [] {
    Answer answer;
    answer.body = "part";
    answer.missing = 10;
    Outcome outcome = Exchange(answer);
    CHECK(outcome.end == kel::TransportEnd::kCutShort);
    CHECK(outcome.body == "part");
    ReportTime(outcome);
  });

  WSACleanup();
  std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
