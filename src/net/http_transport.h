// The platform seam of HttpRequest: how a URL yields its host name and port
// parts, and how one exchange goes over the wire. http_transport_posix.cc
// (libcurl) and http_transport_windows.cc (WinINet and the shell's URL
// splitter) implement it. A transport does the operating system's part only:
// it opens, sends, receives within the limits it is given, and reports what
// it saw; what that means for the exchange is decided in http_request.cc.
#ifndef KEL_NET_HTTP_TRANSPORT_H_
#define KEL_NET_HTTP_TRANSPORT_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "api/secure_wipe.h"

namespace kel {

// The host name part of `url`, the way the platform's URL splitter reads it:
// only a URL of the form scheme://authority has one. False (and `host`
// untouched) when the URL yields none or the name is 260 bytes or longer.
bool UrlHostPart(const char *url, std::string *host);

// The port part of `url`: the text after the host name and ':'. False when
// the URL names no port.
bool UrlPortPart(const char *url, std::string *port);

// One exchange, fully resolved by the portable code: the host is not empty
// and the port is a real one.
struct TransportRequest {
  std::string host;
  std::uint16_t port = 80;
  SecretText object_name;  // the request target: a GET's holds the parameters
  bool secure = false;     // TLS, with the certificate and host name verified
  bool post = true;        // POST with `content` as its body; else a bare GET
  SecretText content;      // the form-encoded parameters, the response key among them
  // The whole exchange (name resolution, connect, request and answer) ends
  // by then, whatever the server does.
  std::chrono::steady_clock::time_point deadline;
};

// How an exchange ended, as the transport saw it.
enum class TransportEnd {
  kNotSent,   // the request never left: the transport could not start it
  kFailed,    // no answer: resolving, connecting, sending or the answer's start failed
  kTimedOut,  // a time limit ended it: the stall limit or the deadline
  kTooLong,   // the answer passed BodyAccumulator::kMaxAnswerBytes
  kCutShort,  // the connection broke after part of the answer had arrived
  kAnswered,  // the answer ended: the server finished it, or a zero byte ended the text
};

// Where an exchange was when it ended: what a time limit cut short.
enum class TransportPhase {
  kNameLookup,
  kConnect,  // on Windows also the name lookup and the TLS handshake
  kTls,
  kSend,
  kWait,  // for the answer's first byte
  kReceive,
};

// What the TLS handshake found wrong with the server's certificate.
enum class CertificateProblem {
  kNone,
  kSelfSigned,  // signed by itself (WinINet counts it as kUntrusted)
  kUntrusted,   // its issuer is no CA that the system trusts
  kExpired,     // outside its validity dates
  kWrongHost,   // issued for another host name than the URL's
  kRejected,    // any other fault (revoked, unusable for a server, ...)
};

// What one exchange gave.
struct TransportResult {
  TransportEnd end = TransportEnd::kNotSent;
  TransportPhase phase = TransportPhase::kNameLookup;
  std::string body;            // the answer's text as far as it arrived (BodyAccumulator)
  long status = 0;             // the HTTP status code; 0 when no response arrived
  std::uint64_t sent = 0;      // bytes of the request body sent
  std::uint64_t received = 0;  // bytes of the answer body read from the wire
  // Why the exchange failed or ended early, in the transport's own words
  // (libcurl's error text, WinINet's error code and text); empty otherwise.
  std::string error;
  // The proxy the exchange went through, as ProxyTraceName shows it (never
  // with user name or password); kSystemProxy when the platform chose by
  // rules of its own; empty when it went direct or never started.
  std::string proxy;
  // Why a TLS handshake refused the server's certificate, when it did.
  CertificateProblem certificate = CertificateProblem::kNone;
};

// Sends `request` once and reads the answer through a BodyAccumulator,
// whatever the status code. The request reaches the server at most once: a
// transport never sends it again on its own, not even when a kept connection
// turns out to be closed after the request went out; such an exchange ends
// kFailed. Connections (and TLS sessions) may be kept for later exchanges
// with the same server; one that failed or ended early is not kept.
TransportResult PerformExchange(const TransportRequest &request);

// How long an exchange may take. A member left out of a braced list keeps
// its shipped value, so a test that shortens one limit never turns another
// into zero.
struct TransportTimeouts {
  long connect_ms = 60 * 1000;  // to open the TCP (and TLS) connection
  long stall_seconds = 60;      // a transfer that moves no byte for this long is abandoned
  // The whole exchange, counted from its start. A server that keeps sending
  // a byte now and then never stalls, but it cannot hold the host's thread
  // past this.
  long total_ms = 120 * 1000;
};

constexpr TransportTimeouts kDefaultTransportTimeouts{};

// The limits in force (transport_timeouts.cc).
TransportTimeouts CurrentTransportTimeouts();

// For tests only: replaces the time-outs of later exchanges and returns the
// previous ones. Not synchronised with exchanges in flight.
TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts);

// For tests only: the shipped time-outs, each divided by `divisor`, so that
// a test can check the shipped values without waiting for them. Returns the
// previous ones.
TransportTimeouts ScaleTransportTimeoutsForTesting(long divisor);

// For tests only, and only in the POSIX transport: later https exchanges
// trust the CA certificates in this PEM file, and no others; an empty path
// returns to the system's store. The shipped library never calls it; only
// its test build (kel_testing) exports a way to, so that tests can trust a
// CA of their own without touching the system's store.
void SetTransportCaFileForTesting(const std::string &path);

// For tests and benchmarks only, and only in the POSIX transport: false
// makes every later exchange open a connection (and a TLS session) of its
// own, and close it at its end; returns the previous setting. The shipped
// library never calls it.
bool SetTransportReuseForTesting(bool reuse);

}  // namespace kel

#endif  // KEL_NET_HTTP_TRANSPORT_H_
