// The transport on Windows: WinINet for the exchange and the shell's
// UrlGetPartA for the URL's host name and port parts. The handles are opened
// and closed inside one exchange; nothing passes to the next.
//
// WinINet's own time-outs bound one operation each (a connect, a send, a
// receive), so a server that sends a byte now and then would never trip
// them. The library starts no thread that could cut an exchange short, so
// the total deadline is checked between the reads of the answer, and each
// read returns as soon as any byte is there.
#include <windows.h>
// Order matters: the WinINet and shell headers need windows.h first.
#include <shlwapi.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "net/body_accumulator.h"
#include "net/http_transport.h"

namespace kel {
namespace {

constexpr DWORD kUrlPartBufferSize = 260;
constexpr DWORD kReadSize = 1024;
constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr char kCookieHeader[] = "Cookie: \r\n";  // the system keeps no cookies

std::atomic<long> connect_timeout_ms{kDefaultTransportTimeouts.connect_ms};
std::atomic<long> stall_timeout_seconds{kDefaultTransportTimeouts.stall_seconds};
std::atomic<long> total_timeout_ms{kDefaultTransportTimeouts.total_ms};

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

// The end of an exchange's total time on the 64-bit tick count, which
// neither wraps nor follows changes of the wall clock.
class Deadline {
 public:
  explicit Deadline(long total_ms)
      : end_(GetTickCount64() + static_cast<ULONGLONG>(std::max(total_ms, 0L))) {}

  // Milliseconds left; 0 once the deadline has passed.
  DWORD Left() const {
    ULONGLONG now = GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(end_ - now, MAXDWORD - 1));
  }

 private:
  ULONGLONG end_;
};

// Sets WinINet's connect, send and receive time-outs on `handle` for its
// next operations: the configured limits, each cut to the time left, so that
// a single wait does not outlast the deadline as far as WinINet honours them
// (Wine's WinINet keeps the receive time-out a connection was opened with,
// and applies no connect time-out at all). The limits are a help, not the
// guard: an option WinINet refuses is passed over, since the deadline checks
// between reads hold without it. False once the deadline has passed.
bool LimitNextWait(HINTERNET handle, const Deadline &deadline) {
  DWORD left = deadline.Left();
  if (left == 0) return false;
  ULONGLONG connect = static_cast<ULONGLONG>(std::max(connect_timeout_ms.load(), 1L));
  ULONGLONG stall = static_cast<ULONGLONG>(std::max(stall_timeout_seconds.load(), 1L)) * 1000;
  DWORD connect_ms = static_cast<DWORD>(std::min<ULONGLONG>(connect, left));
  DWORD stall_ms = static_cast<DWORD>(std::min<ULONGLONG>(stall, left));
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall_ms, sizeof stall_ms);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall_ms, sizeof stall_ms);
  return true;
}

// After a failed WinINet call with error `code`: whether it failed by time,
// its own time-out or the deadline's. Any failure once the deadline has
// passed counts as the deadline's, so that a trickle cut off there is never
// taken for a short answer.
bool TimedOut(DWORD code, const Deadline &deadline) {
  return code == ERROR_INTERNET_TIMEOUT || deadline.Left() == 0;
}

// The system's text for a WinINet error `code`, from wininet.dll's message
// table: in English where the system has it, else in its own language.
std::string WinInetMessage(DWORD code) {
  char text[512] = {};
  const DWORD flags =
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE wininet = GetModuleHandleA("wininet.dll");
  DWORD length = FormatMessageA(flags, wininet, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                text, sizeof text, nullptr);
  if (length == 0) length = FormatMessageA(flags, wininet, code, 0, text, sizeof text, nullptr);
  std::string message(text, std::min<DWORD>(length, sizeof text - 1));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// "CALL failed: error CODE (text)". For ERROR_INTERNET_EXTENDED_ERROR the
// text is what the server or the protocol said (InternetGetLastResponseInfoA).
std::string WinInetError(const char *call, DWORD code) {
  std::string text = std::string(call) + " failed: error " + std::to_string(code);
  std::string detail;
  if (code == ERROR_INTERNET_EXTENDED_ERROR) {
    char info[512] = {};
    DWORD info_code = 0;
    DWORD size = sizeof info;
    if (InternetGetLastResponseInfoA(&info_code, info, &size)) {
      detail.assign(info, std::min<DWORD>(size, sizeof info - 1));
    }
  } else {
    detail = WinInetMessage(code);
  }
  return detail.empty() ? text : text + " (" + detail + ")";
}

// Ends an exchange without a body; the failed call's error goes to the trace.
TransportResult Failed(TransportResult *outcome, const char *call, DWORD code) {
  outcome->body.clear();
  outcome->error = WinInetError(call, code);
  return std::move(*outcome);
}

// Takes a 64-bit value so that the check compiles on 32-bit Windows too,
// where every size fits.
bool FitsDword(unsigned long long size) { return size <= MAXDWORD; }

}  // namespace

bool UrlHostPart(const char *url, std::string *host) {
  return GetUrlPart(url, URL_PART_HOSTNAME, host);
}

bool UrlPortPart(const char *url, std::string *port) {
  return GetUrlPart(url, URL_PART_PORT, port);
}

TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts) {
  TransportTimeouts previous = {connect_timeout_ms.exchange(timeouts.connect_ms),
                                stall_timeout_seconds.exchange(timeouts.stall_seconds),
                                total_timeout_ms.exchange(timeouts.total_ms)};
  return previous;
}

TransportResult PerformExchange(const TransportRequest &request) {
  const Deadline deadline(total_timeout_ms.load());
  TransportResult outcome;
  InternetHandle session(
      InternetOpenA("MyAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) return Failed(&outcome, "InternetOpenA", GetLastError());
  // Handles opened from the session take its limits; the request's are set
  // again before each wait below.
  LimitNextWait(session.get(), deadline);

  INTERNET_PORT port = request.port;
  if (port == 0) port = request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  InternetHandle connection(InternetConnectA(session.get(), request.host.c_str(), port, nullptr,
                                             nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  if (connection.get() == nullptr) return Failed(&outcome, "InternetConnectA", GetLastError());

  const char *accept_types[] = {"*/*", nullptr};
  DWORD flags = INTERNET_FLAG_NO_COOKIES;
  // An https URL goes over TLS; WinINet verifies the certificate and host name.
  if (request.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle http(HttpOpenRequestA(connection.get(), request.post ? "POST" : "GET",
                                       request.object_name.c_str(), nullptr, nullptr, accept_types,
                                       flags, 1));
  if (http.get() == nullptr) return Failed(&outcome, "HttpOpenRequestA", GetLastError());

  HttpAddRequestHeadersA(http.get(), kCookieHeader, sizeof kCookieHeader - 1,
                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  const std::string &content = request.content;
  // WinINet takes the body's length as a DWORD; a longer body (possible on
  // 64-bit Windows only) cannot be sent whole, so it is not sent at all.
  if (!FitsDword(content.size())) {
    outcome.error = "the request body is longer than 4 GiB";
    return outcome;
  }
  // Name resolution, connect, the request and the wait for the answer's
  // headers all happen inside HttpSendRequestA.
  if (!LimitNextWait(http.get(), deadline)) {
    outcome.error = "the deadline passed before the request was sent";
    return outcome;
  }
  if (!HttpSendRequestA(http.get(), kContentType, sizeof kContentType - 1,
                        const_cast<char *>(content.data()), static_cast<DWORD>(content.size()))) {
    return Failed(&outcome, "HttpSendRequestA", GetLastError());
  }
  outcome.sent = content.size();
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (HttpQueryInfoA(http.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                     &status_size, nullptr)) {
    outcome.status = static_cast<long>(status);
  }

  BodyAccumulator accumulator;
  char buffer[kReadSize];
  for (;;) {
    outcome.received = accumulator.received();
    // Before every wait: the deadline may have passed while bytes trickled.
    if (!LimitNextWait(http.get(), deadline)) {
      outcome.error = "the deadline passed while the answer was read";
      return outcome;
    }
    // A read waits until its buffer is full or the answer ends; asked for
    // no more than has arrived, it returns at once.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(http.get(), &available, 0, 0)) {
      // A time-out fails the exchange; another broken read keeps what arrived.
      DWORD code = GetLastError();
      if (TimedOut(code, deadline)) return Failed(&outcome, "InternetQueryDataAvailable", code);
      outcome.error = WinInetError("InternetQueryDataAvailable", code);
      break;
    }
    DWORD read = 0;
    DWORD wanted = available == 0 ? kReadSize : std::min(available, kReadSize);
    if (!InternetReadFile(http.get(), buffer, wanted, &read)) {
      DWORD code = GetLastError();
      if (TimedOut(code, deadline)) return Failed(&outcome, "InternetReadFile", code);
      outcome.error = WinInetError("InternetReadFile", code);
      break;
    }
    if (read == 0 || accumulator.Append(buffer, read) != BodyAccumulator::State::kReading) break;
  }
  outcome.received = accumulator.received();
  if (accumulator.state() == BodyAccumulator::State::kTooLong) {
    outcome.error = "the answer is longer than 16 MiB";
  }
  outcome.body = accumulator.TakeBody();
  return outcome;
}

}  // namespace kel
