// The platform seam of HttpRequest: how a URL yields its host name and port
// parts, and how one exchange goes over the wire. http_transport_posix.cc
// (libcurl) and http_transport_windows.cc (WinINet and the shell's URL
// splitter) implement it; everything in http_request.cc is portable.
#ifndef KEL_NET_HTTP_TRANSPORT_H_
#define KEL_NET_HTTP_TRANSPORT_H_

#include <cstdint>
#include <string>

namespace kel {

// The host name part of `url`, the way the platform's URL splitter reads it:
// only a URL of the form scheme://authority has one. False (and `host`
// untouched) when the URL yields none or the name is 260 bytes or longer.
bool UrlHostPart(const char *url, std::string *host);

// The port part of `url`: the text after the host name and ':'. False when
// the URL names no port.
bool UrlPortPart(const char *url, std::string *port);

// One exchange, fully resolved by the portable code.
struct TransportRequest {
  std::string host;
  std::uint16_t port = 80;  // 0 asks for the default port of the scheme
  std::string object_name;  // the request target as the URL gave it
  bool secure = false;      // TLS, with the certificate and host name verified
  bool post = true;         // POST with `content` as its body; else a bare GET
  std::string content;      // the form-encoded parameters
};

// What one exchange gave. Only `body` decides the exchange; the rest
// describes it for the trace (api/trace.h).
struct TransportResult {
  std::string body;
  long status = 0;             // the HTTP status code; 0 when no response arrived
  std::uint64_t sent = 0;      // bytes of the request body sent
  std::uint64_t received = 0;  // bytes of the answer body read from the wire
  // Why the exchange failed or ended early, in the transport's own words
  // (libcurl's error text, WinINet's error code and text); empty otherwise.
  std::string error;
};

// Sends `request` and returns the answer body read through a
// BodyAccumulator, whatever the status code. The body is empty on any
// failure to connect, send or receive a response, on a time-out (the total
// deadline included), and on an answer that is too long. A read that fails
// after part of the body arrived, before the deadline, keeps what arrived.
// Connections (and TLS sessions) are kept for later exchanges with the same
// server, from any thread, as WinINet keeps them; an exchange that fails or
// ends early leaves no connection to be used again.
TransportResult PerformExchange(const TransportRequest &request);

// How long an exchange may take; both transports apply these. A member left
// out of a braced list keeps its shipped value, so a test that shortens one
// limit never turns another into zero.
struct TransportTimeouts {
  long connect_ms = 60 * 1000;  // to open the TCP (and TLS) connection
  long stall_seconds = 60;      // a transfer that moves no byte for this long is abandoned
  // The whole exchange, counted from its start: name resolution, connect,
  // request and answer. A server that keeps sending a byte now and then
  // never stalls, but it cannot hold the host's thread past this.
  long total_ms = 120 * 1000;
};

constexpr TransportTimeouts kDefaultTransportTimeouts{};

// For tests only: replaces the time-outs of later exchanges and returns the
// previous ones. Not synchronised with exchanges in flight.
TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts);

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
