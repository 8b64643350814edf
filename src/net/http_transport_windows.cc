// The transport on Windows: WinINet for the exchange and the shell's
// UrlGetPartA for the URL's host name and port parts. The handles are opened
// and closed inside one exchange; nothing passes to the next.
#include <windows.h>
// Order matters: the WinINet and shell headers need windows.h first.
#include <shlwapi.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "net/body_accumulator.h"
#include "net/http_transport.h"

namespace kel {
namespace {

constexpr DWORD kUrlPartBufferSize = 260;
constexpr DWORD kReadSize = 1024;
constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr char kCookieHeader[] = "Cookie: \r\n";  // the system keeps no cookies

// Zero leaves WinINet's own time-outs in force; tests may set their own.
std::atomic<long> connect_timeout_ms{0};
std::atomic<long> stall_timeout_seconds{0};

bool GetUrlPart(const char *url, DWORD part, std::string *text) {
  char buffer[kUrlPartBufferSize] = {};
  DWORD size = kUrlPartBufferSize;
  if (UrlGetPartA(url, buffer, &size, part, 0) != S_OK) return false;
  *text = buffer;
  return true;
}

// Closes a WinINet handle when the scope ends; handles close in the reverse
// order of opening: request, connection, session.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle &) = delete;
  InternetHandle &operator=(const InternetHandle &) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

void ApplyTestTimeouts(HINTERNET session) {
  DWORD connect = static_cast<DWORD>(connect_timeout_ms.load());
  DWORD receive = static_cast<DWORD>(stall_timeout_seconds.load() * 1000);
  if (connect != 0) {
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  }
  if (receive != 0) {
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  }
}

}  // namespace

bool UrlHostPart(const char *url, std::string *host) {
  return GetUrlPart(url, URL_PART_HOSTNAME, host);
}

bool UrlPortPart(const char *url, std::string *port) {
  return GetUrlPart(url, URL_PART_PORT, port);
}

TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts) {
  TransportTimeouts previous = {connect_timeout_ms.exchange(timeouts.connect_ms),
                                stall_timeout_seconds.exchange(timeouts.stall_seconds)};
  return previous;
}

std::string PerformExchange(const TransportRequest &request) {
  InternetHandle session(
      InternetOpenA("MyAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) return std::string();
  ApplyTestTimeouts(session.get());

  INTERNET_PORT port = request.port;
  if (port == 0) port = request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  InternetHandle connection(InternetConnectA(session.get(), request.host.c_str(), port, nullptr,
                                             nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  if (connection.get() == nullptr) return std::string();

  const char *accept_types[] = {"*/*", nullptr};
  DWORD flags = INTERNET_FLAG_NO_COOKIES;
  // An https URL goes over TLS; WinINet verifies the certificate and host name.
  if (request.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle http(HttpOpenRequestA(connection.get(), request.post ? "POST" : "GET",
                                       request.object_name.c_str(), nullptr, nullptr, accept_types,
                                       flags, 1));
  if (http.get() == nullptr) return std::string();

  HttpAddRequestHeadersA(http.get(), kCookieHeader, sizeof kCookieHeader - 1,
                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  const std::string &content = request.content;
  if (!HttpSendRequestA(http.get(), kContentType, sizeof kContentType - 1,
                        const_cast<char *>(content.data()), static_cast<DWORD>(content.size()))) {
    return std::string();
  }

  BodyAccumulator accumulator;
  char buffer[kReadSize];
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(http.get(), buffer, kReadSize, &read)) {
      // A time-out fails the exchange; another broken read keeps what arrived.
      if (GetLastError() == ERROR_INTERNET_TIMEOUT) return std::string();
      break;
    }
    if (read == 0 || accumulator.Append(buffer, read) != BodyAccumulator::State::kReading) break;
  }
  return accumulator.TakeBody();
}

}  // namespace kel
