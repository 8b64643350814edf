// The trace line of one secure exchange (see api/trace.h):
//
//   ... exchange result=not-verified format=document status=200 scheme=http
//       host=127.0.0.1 port=8080 target=/x proxy=none
//       params=type:1,id:3,name:4,time:1,enc:16 sent=52 received=1379 ms=4 error="..."
//
// `result` is the exchange's outcome (ExchangeToken): ok, unreachable,
// bad-format, not-decrypted, not-verified, verify-raised, no-server-key,
// not-a-document (a body in neither format) or no-response-key (no key could
// be drawn; nothing was sent). `format` is framed, document or none. The URL's parts are the ones
// the request read; the target is the URL's own, never the query the library builds. `proxy` is
// the proxy the exchange went through ("http://HOST:PORT", no user name or password), "none"
// when it went direct, or "system" when WinINet chose by rules of its own. A parameter is
// shown by its name and the length of its value only. Then, when they apply: `mend`, what the
// request made of the URL beyond splitting it (UrlMend); `timeout`, the phase a time limit ended;
// `failed`, where an exchange without an answer stopped (url, not-sent or a phase); `certificate`,
// what was wrong with the server's certificate (self-signed, untrusted, expired, wrong-host,
// rejected); `error`, the transport's own account of a failure.
#ifndef KEL_SEAL_EXCHANGE_TRACE_H_
#define KEL_SEAL_EXCHANGE_TRACE_H_

#include <chrono>

#include "api/trace.h"
#include "net/http_request.h"
#include "seal/exchange_outcome.h"

namespace kel {

// Lives for one exchange and times it. Does nothing while the trace is off.
class ExchangeTrace {
 public:
  ExchangeTrace() : on_(trace::Enabled()), start_(std::chrono::steady_clock::now()) {}

  // Writes the exchange's line from its outcome. Never throws; a line that
  // cannot be built is dropped.
  void Write(const HttpRequest &request, const ExchangeOutcome &outcome) const noexcept;

 private:
  bool on_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace kel

#endif  // KEL_SEAL_EXCHANGE_TRACE_H_
