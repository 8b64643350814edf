// The transport on Windows: WinINet for the exchange and the shell's
// UrlGetPartA for the URL's host name and port parts (a bracketed IPv6 host
// is split by the portable reader). The handles are opened
// and closed inside one exchange; WinINet itself may keep the connection for
// a later exchange with the same server.
//
// The request goes out in three steps: HttpSendRequestExA sends the headers,
// InternetWriteFile the body, and HttpEndRequestA waits for the answer's
// headers. WinINet then never holds the body, so it cannot send the request
// again on its own: HttpSendRequestA, given the body, sends it a second time
// on a fresh connection when a kept one closes after the server took the
// request, and a record of use would be written twice. A failed
// HttpEndRequestA ends the exchange, whatever WinINet suggests.
//
// WinINet's own time-outs bound one operation each (a connect, a send, a
// receive), so a server that sends a byte now and then would never trip
// them. The library starts no thread that could cut an exchange short, so
// the request's deadline is checked before every wait, and each read
// returns as soon as any byte is there.
#include <windows.h>
// Order matters: the WinINet and shell headers need windows.h first.
#include <shlwapi.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "net/body_accumulator.h"
#include "net/http_transport.h"
#include "net/proxy_rules.h"
#include "net/url_parts.h"

namespace kel {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr DWORD kUrlPartBufferSize = 260;
constexpr DWORD kReadSize = 1024;
constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr char kCookieHeader[] = "Cookie: \r\n";  // the system keeps no cookies

bool GetUrlPart(const char *url, DWORD part, std::string *text) {
  char buffer[kUrlPartBufferSize] = {};
  DWORD size = kUrlPartBufferSize;
  if (UrlGetPartA(url, buffer, &size, part, 0) != S_OK) return false;
  *text = buffer;
  return true;
}

// The authority of a URL whose host is a bracketed IPv6 literal. The shell's
// splitter cuts such a host at its first ':' (under Wine "http://[::1]:8080/"
// gives the host "[" and the port ":1]:8080"), so it is split here as on
// other platforms. The brackets stay: WinINet reaches "[::1]" and writes it
// so into the Host header and a proxy's request line, where "::1" would give
// "Host: ::1:8080".
bool BracketedAuthority(const char *url, UrlAuthority *authority) {
  return ReadAuthority(url, authority) && authority->host[0] == '[';
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

// The limits of one exchange: the time-outs in force when it started, and
// the request's deadline.
struct Limits {
  TransportTimeouts timeouts;
  Clock::time_point deadline;

  // Milliseconds left before the deadline; 0 once it has passed.
  DWORD Left() const {
    auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<DWORD>(std::min<long long>(left, MAXDWORD - 1));
  }
};

// Sets WinINet's connect, send and receive time-outs on `handle` for its
// next operations: the configured limits, each cut to the time left, so that
// a single wait does not outlast the deadline as far as WinINet honours them
// (Wine's WinINet keeps the receive time-out a connection was opened with,
// and applies no connect time-out at all). The limits are a help, not the
// guard: an option WinINet refuses is passed over, since the deadline checks
// between waits hold without it. Returns the receive limit set, in
// milliseconds; 0 once the deadline has passed.
DWORD LimitNextWait(HINTERNET handle, const Limits &limits) {
  DWORD left = limits.Left();
  if (left == 0) return 0;
  ULONGLONG connect = static_cast<ULONGLONG>(std::max(limits.timeouts.connect_ms, 1L));
  ULONGLONG stall = static_cast<ULONGLONG>(std::max(limits.timeouts.stall_seconds, 1L)) * 1000;
  DWORD connect_ms = static_cast<DWORD>(std::min<ULONGLONG>(connect, left));
  DWORD stall_ms = static_cast<DWORD>(std::min<ULONGLONG>(stall, left));
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall_ms, sizeof stall_ms);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall_ms, sizeof stall_ms);
  return stall_ms;
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

// Ends an exchange that went no further than `end`; `why` goes to the trace.
TransportEnd Ended(TransportResult *outcome, TransportEnd end, std::string why) {
  outcome->end = end;
  outcome->error = std::move(why);
  return end;
}

// Where a WinINet error `code` says the exchange failed, and what was wrong
// with the server's certificate: the connect phase covers the name lookup
// and the TLS handshake until an error names one of them.
void NoteFailure(TransportResult *outcome, DWORD code) {
  switch (code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      outcome->phase = TransportPhase::kNameLookup;
      return;
    case ERROR_INTERNET_INVALID_CA:
      outcome->certificate = CertificateProblem::kUntrusted;
      break;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      outcome->certificate = CertificateProblem::kExpired;
      break;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      outcome->certificate = CertificateProblem::kWrongHost;
      break;
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      outcome->certificate = CertificateProblem::kRejected;
      break;
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      break;
    default:
      return;
  }
  outcome->phase = TransportPhase::kTls;
}

// Ends an exchange at the failed WinINet call `call` with error `code`: a
// time-out when it failed by time, WinINet's own time-out or the deadline
// (any failure once the deadline has passed counts as the deadline's, so
// that a trickle cut off there is never taken for a short answer), and
// `otherwise` else.
TransportEnd CallFailed(TransportResult *outcome, const Limits &limits, TransportEnd otherwise,
                        const char *call, DWORD code) {
  bool timed_out = code == ERROR_INTERNET_TIMEOUT || limits.Left() == 0;
  NoteFailure(outcome, code);
  return Ended(outcome, timed_out ? TransportEnd::kTimedOut : otherwise, WinInetError(call, code));
}

TransportEnd DeadlinePassed(TransportResult *outcome, const char *when) {
  return Ended(outcome, TransportEnd::kTimedOut, std::string("the deadline passed ") + when);
}

// The answer's status code; false when no status line arrived.
bool StatusCode(HINTERNET http, long *status) {
  DWORD code = 0;
  DWORD size = sizeof code;
  if (!HttpQueryInfoA(http, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                      nullptr) ||
      code == 0) {
    return false;
  }
  *status = static_cast<long>(code);
  return true;
}

// The body length the answer announced in its Content-Length header; false
// when it announced none.
bool AnnouncedLength(HINTERNET http, unsigned long long *length) {
  char text[32] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(http, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  char *end = nullptr;
  *length = std::strtoull(text, &end, 10);
  return end != text;
}

// Sends the request: the headers, then the body, then waits for the
// answer's status line and headers. Name resolution and connect happen
// inside HttpSendRequestExA. kAnswered once the answer's headers are in;
// every failure is final, HttpEndRequestA's included.
TransportEnd SendRequest(HINTERNET http, const SecretText &content, const Limits &limits,
                         TransportResult *outcome) {
  if (LimitNextWait(http, limits) == 0) {
    return DeadlinePassed(outcome, "before the request was sent");
  }
  outcome->phase = TransportPhase::kConnect;
  INTERNET_BUFFERSA headers = {};
  headers.dwStructSize = sizeof headers;
  headers.lpcszHeader = kContentType;
  headers.dwHeadersLength = sizeof kContentType - 1;
  headers.dwBufferTotal = static_cast<DWORD>(content.size());
  if (!HttpSendRequestExA(http, &headers, nullptr, 0, 0)) {
    return CallFailed(outcome, limits, TransportEnd::kFailed, "HttpSendRequestExA", GetLastError());
  }
  outcome->phase = TransportPhase::kSend;
  while (outcome->sent < content.size()) {
    if (LimitNextWait(http, limits) == 0) {
      return DeadlinePassed(outcome, "while the request was sent");
    }
    DWORD wanted = static_cast<DWORD>(content.size() - outcome->sent);
    DWORD written = 0;
    if (!InternetWriteFile(http, content.data() + outcome->sent, wanted, &written)) {
      return CallFailed(outcome, limits, TransportEnd::kFailed, "InternetWriteFile",
                        GetLastError());
    }
    // A write that takes no byte would never end the body.
    if (written == 0 || written > wanted) {
      return Ended(outcome, TransportEnd::kFailed,
                   "InternetWriteFile wrote " + std::to_string(written) + " of " +
                       std::to_string(wanted) + " bytes");
    }
    outcome->sent += written;
  }
  outcome->phase = TransportPhase::kWait;
  const DWORD wait_ms = LimitNextWait(http, limits);
  if (wait_ms == 0) return DeadlinePassed(outcome, "before the answer arrived");
  const Clock::time_point waited_from = Clock::now();
  if (!HttpEndRequestA(http, nullptr, 0, 0)) {
    return CallFailed(outcome, limits, TransportEnd::kFailed, "HttpEndRequestA", GetLastError());
  }
  // Wine's WinINet reports success when the connection closed, or its
  // receive time-out passed, before a status line arrived.
  if (!StatusCode(http, &outcome->status)) {
    bool timed_out = limits.Left() == 0 || Clock::now() - waited_from >= Milliseconds(wait_ms);
    return Ended(outcome, timed_out ? TransportEnd::kTimedOut : TransportEnd::kFailed,
                 "no answer arrived");
  }
  return TransportEnd::kAnswered;
}

// After the read that found the answer's end: kAnswered, unless the
// connection closed before the body the answer announced was in (WinINet
// reads that as the end).
TransportEnd AnswerEnded(HINTERNET http, const Limits &limits, const BodyAccumulator &accumulator,
                         TransportResult *outcome) {
  unsigned long long announced = 0;
  if (!AnnouncedLength(http, &announced) || accumulator.received() >= announced) {
    return TransportEnd::kAnswered;
  }
  TransportEnd end = accumulator.received() > 0 ? TransportEnd::kCutShort : TransportEnd::kFailed;
  if (limits.Left() == 0) end = TransportEnd::kTimedOut;
  return Ended(outcome, end,
               "the connection closed after " + std::to_string(accumulator.received()) + " of " +
                   std::to_string(announced) + " announced bytes");
}

// Reads the answer's body into `accumulator` until the answer ends, it is
// too long, or a read fails.
TransportEnd ReadAnswer(HINTERNET http, const Limits &limits, BodyAccumulator *accumulator,
                        TransportResult *outcome) {
  char buffer[kReadSize];
  outcome->phase = TransportPhase::kReceive;
  for (;;) {
    outcome->received = accumulator->received();
    // A broken read ends the answer where it broke.
    const TransportEnd broken =
        accumulator->received() > 0 ? TransportEnd::kCutShort : TransportEnd::kFailed;
    // Before every wait: the deadline may have passed while bytes trickled.
    if (LimitNextWait(http, limits) == 0) {
      return DeadlinePassed(outcome, "while the answer was read");
    }
    // A read waits until its buffer is full or the answer ends; asked for
    // no more than has arrived, it returns at once.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(http, &available, 0, 0)) {
      return CallFailed(outcome, limits, broken, "InternetQueryDataAvailable", GetLastError());
    }
    DWORD read = 0;
    DWORD wanted = available == 0 ? kReadSize : std::min(available, kReadSize);
    if (!InternetReadFile(http, buffer, wanted, &read)) {
      return CallFailed(outcome, limits, broken, "InternetReadFile", GetLastError());
    }
    if (read == 0) return AnswerEnded(http, limits, *accumulator, outcome);
    switch (accumulator->Append(buffer, read)) {
      case BodyAccumulator::State::kReading:
        break;
      case BodyAccumulator::State::kTooLong:
        outcome->received = accumulator->received();
        return Ended(outcome, TransportEnd::kTooLong, "the answer is longer than 16 MiB");
      case BodyAccumulator::State::kComplete:  // a zero byte ended the text
        return TransportEnd::kAnswered;
    }
  }
}

// The proxy the session's requests go through, for the trace: empty when
// WinINet was configured to go direct, else the proxy configured for the
// request's scheme (WinINetProxyTraceName), or kSystemProxy when WinINet
// chooses by rules of its own or does not say.
std::string SessionProxy(HINTERNET session, bool secure) {
  std::vector<char> buffer(1024);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!InternetQueryOptionA(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return kSystemProxy;
    buffer.resize(size);
    if (!InternetQueryOptionA(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) {
      return kSystemProxy;
    }
  }
  const auto *info = reinterpret_cast<const INTERNET_PROXY_INFO *>(buffer.data());
  if (info->dwAccessType == INTERNET_OPEN_TYPE_DIRECT) return std::string();
  const auto *list = reinterpret_cast<const char *>(info->lpszProxy);
  const auto *bypass = reinterpret_cast<const char *>(info->lpszProxyBypass);
  if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || list == nullptr) return kSystemProxy;
  return WinInetProxyTraceName(list, bypass == nullptr ? "" : bypass, secure);
}

// Takes a 64-bit value so that the check compiles on 32-bit Windows too,
// where every size fits.
bool FitsDword(unsigned long long size) { return size <= MAXDWORD; }

}  // namespace

bool UrlHostPart(const char *url, std::string *host) {
  UrlAuthority authority;
  if (!BracketedAuthority(url, &authority)) return GetUrlPart(url, URL_PART_HOSTNAME, host);
  if (authority.host.size() >= kUrlPartBufferSize) return false;
  *host = authority.host;
  return true;
}

bool UrlPortPart(const char *url, std::string *port) {
  UrlAuthority authority;
  if (!BracketedAuthority(url, &authority)) return GetUrlPart(url, URL_PART_PORT, port);
  if (!authority.has_port || authority.port.size() >= kUrlPartBufferSize) return false;
  *port = authority.port;
  return true;
}

TransportResult PerformExchange(const TransportRequest &request) {
  const Limits limits{CurrentTransportTimeouts(), request.deadline};
  TransportResult outcome;
  // WinINet takes the body's length as a DWORD; a longer body (possible on
  // 64-bit Windows only) cannot be sent whole, so it is not sent at all.
  if (!FitsDword(request.content.size())) {
    Ended(&outcome, TransportEnd::kNotSent, "the request body is longer than 4 GiB");
    return outcome;
  }
  InternetHandle session(
      InternetOpenA("MyAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) {
    Ended(&outcome, TransportEnd::kNotSent, WinInetError("InternetOpenA", GetLastError()));
    return outcome;
  }
  outcome.proxy = SessionProxy(session.get(), request.secure);
  // Handles opened from the session take its limits; the request's are set
  // again before each wait.
  LimitNextWait(session.get(), limits);
  // No connection is opened yet: WinINet connects when the request is sent.
  InternetHandle connection(InternetConnectA(session.get(), request.host.c_str(), request.port,
                                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  if (connection.get() == nullptr) {
    Ended(&outcome, TransportEnd::kNotSent, WinInetError("InternetConnectA", GetLastError()));
    return outcome;
  }
  const char *accept_types[] = {"*/*", nullptr};
  DWORD flags = INTERNET_FLAG_NO_COOKIES;
  // An https URL goes over TLS; WinINet verifies the certificate and host name.
  if (request.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle http(HttpOpenRequestA(connection.get(), request.post ? "POST" : "GET",
                                       request.object_name.c_str(), nullptr, nullptr, accept_types,
                                       flags, 1));
  if (http.get() == nullptr) {
    Ended(&outcome, TransportEnd::kNotSent, WinInetError("HttpOpenRequestA", GetLastError()));
    return outcome;
  }
  HttpAddRequestHeadersA(http.get(), kCookieHeader, sizeof kCookieHeader - 1,
                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);

  if (SendRequest(http.get(), request.content, limits, &outcome) != TransportEnd::kAnswered) {
    return outcome;
  }
  BodyAccumulator accumulator;
  outcome.end = ReadAnswer(http.get(), limits, &accumulator, &outcome);
  outcome.received = accumulator.received();
  outcome.body = accumulator.TakeBody();  // empty when too long
  return outcome;
}

}  // namespace kel
