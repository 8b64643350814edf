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

// Sends `request` and returns the answer body read through a
// BodyAccumulator, whatever the status code. Empty on any failure to
// connect, send or receive a response, on a time-out, and on an answer
// that is too long. A read that fails after part of the body arrived keeps
// what arrived.
std::string PerformExchange(const TransportRequest &request);

// How long an exchange may wait. The POSIX transport applies these; on
// Windows WinINet's own defaults (about a minute each) are in force unless a
// test sets its own.
struct TransportTimeouts {
  long connect_ms;     // to open the TCP (and TLS) connection
  long stall_seconds;  // a transfer that moves no byte for this long is abandoned
};

constexpr TransportTimeouts kDefaultTransportTimeouts = {60 * 1000, 60};

// For tests only: replaces the time-outs of later exchanges and returns the
// previous ones. Not synchronised with exchanges in flight.
TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts);

}  // namespace kel

#endif  // KEL_NET_HTTP_TRANSPORT_H_
