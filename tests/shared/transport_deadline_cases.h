// Exchanges that only a transport's total deadline can end, and where the
// deadline must find each: run against the libcurl transport on Linux and
// the WinINet one on Windows, each serving the answers its own way.
#ifndef KEL_TESTS_SHARED_TRANSPORT_DEADLINE_CASES_H_
#define KEL_TESTS_SHARED_TRANSPORT_DEADLINE_CASES_H_

#include <cstddef>

#include "net/http_transport.h"

namespace kel::test {

// Connect and stall limits far longer than the deadline, so that only the
// deadline ends these exchanges.
constexpr TransportTimeouts kDeadlineOnlyTimeouts = {20000, 20, 1500};
// The earliest such an exchange may end (clocks move in steps of about
// 16 ms on Windows), and the latest, with room for a loaded machine.
constexpr long kDeadlineEarliestMs = 1400;
constexpr long kDeadlineLatestMs = 8000;

struct DeadlineCase {
  const char *name;
  std::size_t body_bytes;  // the answer's body, sent a byte at a time...
  long pause_ms;           // ...one every pause_ms
  bool silent;             // reads the request and never answers
  TransportPhase phase;    // where the deadline finds the exchange
};

inline constexpr DeadlineCase kDeadlineCases[] = {
    // A byte every 300 ms: 30 s in all, never a stall.
    {"an answer still trickling at the deadline", 100, 300, false, TransportPhase::kReceive},
    {"a server that never answers", 0, 0, true, TransportPhase::kWait},
};

}  // namespace kel::test

#endif  // KEL_TESTS_SHARED_TRANSPORT_DEADLINE_CASES_H_
