// The transport on POSIX systems: libcurl, configured to put on the wire what
// WinINet sends for the same request (agent "MyAgent", "Accept: */*", the
// form Content-Type, the target with a leading '/'), with time-outs like
// WinINet's defaults so that a silent server cannot block the host's thread
// forever. No proxy is used and no environment variable is read.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "net/body_accumulator.h"
#include "net/http_transport.h"
#include "net/url_parts.h"

namespace kel {
namespace {

// The size of the buffer the shell's URL splitter is given on Windows: a host
// name of this length or more yields no host there, and so none here.
constexpr std::size_t kUrlPartBufferSize = 260;

std::atomic<long> connect_timeout_ms{kDefaultTransportTimeouts.connect_ms};
std::atomic<long> stall_timeout_seconds{kDefaultTransportTimeouts.stall_seconds};

// Abandons a transfer that moves no byte, up or down, for the stall time.
// libcurl's own low-speed check averages over a window of several seconds,
// so the request body just sent would keep a silent answer "fast" for a while.
struct StallWatch {
  std::chrono::steady_clock::time_point last_progress = std::chrono::steady_clock::now();
  curl_off_t last_bytes = 0;
  std::chrono::seconds limit;
  bool stalled = false;
};

int CheckStall(void *data, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto *watch = static_cast<StallWatch *>(data);
  auto now = std::chrono::steady_clock::now();
  if (received + sent != watch->last_bytes) {
    watch->last_bytes = received + sent;
    watch->last_progress = now;
    return 0;
  }
  watch->stalled = now - watch->last_progress >= watch->limit;
  return watch->stalled ? 1 : 0;
}

bool CurlReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

// The request target as WinINet renders an object name: a leading '/' is
// added when missing, and a space goes out as %20. Bytes that may not stand in
// a request line at all (controls, DEL, and bytes from 0x80 up) are escaped as
// well, so that a stray CR or LF in a URL cannot end the line.
std::string RequestTarget(const std::string &object_name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string target;
  if (object_name.empty() || object_name[0] != '/') target += '/';
  for (char c : object_name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      target += '%';
      target += kHex[byte >> 4];
      target += kHex[byte & 0x0F];
    } else {
      target += c;
    }
  }
  return target;
}

// The host and port only; the target goes through CURLOPT_REQUEST_TARGET
// byte for byte, untouched by libcurl's URL parser (which would drop a
// fragment or remove dot segments).
std::string ServerUrl(const TransportRequest &request) {
  std::string url = request.secure ? "https://" : "http://";
  url += request.host;
  if (request.port != 0) url += ":" + std::to_string(request.port);
  url += "/";
  return url;
}

size_t WriteBody(char *data, size_t size, size_t count, void *context) {
  auto *accumulator = static_cast<BodyAccumulator *>(context);
  // Returning fewer bytes than offered ends the transfer.
  return accumulator->Append(data, size * count) == BodyAccumulator::State::kReading ? size * count
                                                                                     : 0;
}

struct CurlDeleter {
  void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// True when the host name has a byte that libcurl's URL parser would read
// as a delimiter, so that the URL would name another server.
bool HostIsUnsafe(const std::string &host) {
  for (char c : host) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') {
      return true;
    }
  }
  return false;
}

}  // namespace

bool UrlHostPart(const char *url, std::string *host) {
  UrlAuthority authority;
  if (!ReadAuthority(url, &authority) || authority.host.size() >= kUrlPartBufferSize) return false;
  *host = authority.host;
  return true;
}

bool UrlPortPart(const char *url, std::string *port) {
  UrlAuthority authority;
  if (!ReadAuthority(url, &authority) || !authority.has_port ||
      authority.port.size() >= kUrlPartBufferSize) {
    return false;
  }
  *port = authority.port;
  return true;
}

TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts) {
  TransportTimeouts previous = {connect_timeout_ms.exchange(timeouts.connect_ms),
                                stall_timeout_seconds.exchange(timeouts.stall_seconds)};
  return previous;
}

std::string PerformExchange(const TransportRequest &request) {
  if (request.host.empty() || HostIsUnsafe(request.host) || !CurlReady()) return std::string();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return std::string();
  CURL *handle = curl.get();

  // "Expect:" keeps libcurl from waiting for a 100 Continue that WinINet
  // never asks for.
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const char *line :
       {"Accept: */*", "Content-Type: application/x-www-form-urlencoded", "Expect:"}) {
    curl_slist *grown = curl_slist_append(headers.get(), line);
    if (grown == nullptr) return std::string();
    (void)headers.release();  // the list lives on at the head of `grown`
    headers.reset(grown);
  }

  std::string url = ServerUrl(request);
  std::string target = RequestTarget(request.object_name);
  const char *protocols = request.secure ? "https" : "http";
  BodyAccumulator accumulator;
  StallWatch stall_watch;
  stall_watch.limit = std::chrono::seconds(stall_timeout_seconds.load());

  bool configured =
      curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_REQUEST_TARGET, target.c_str()) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, protocols) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_USERAGENT, "MyAgent") == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
      // An empty proxy name turns off proxies, also those named in the environment.
      curl_easy_setopt(handle, CURLOPT_PROXY, "") == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout_ms.load()) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStall) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &stall_watch) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, &accumulator) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  if (request.post) {
    configured = configured &&
                 curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.content.data()) == CURLE_OK &&
                 curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(request.content.size())) == CURLE_OK;
  }
  if (!configured) return std::string();

  CURLcode result = curl_easy_perform(handle);
  switch (accumulator.state()) {
    case BodyAccumulator::State::kComplete:  // stopped on purpose at the zero byte
      return accumulator.TakeBody();
    case BodyAccumulator::State::kTooLong:
      return std::string();
    case BodyAccumulator::State::kReading:
      break;
  }
  // A time-out fails the whole exchange; any other failure after part of the
  // body arrived (the server closed early, a broken read) keeps that part.
  if (result == CURLE_OPERATION_TIMEDOUT || stall_watch.stalled) return std::string();
  return accumulator.TakeBody();
}

}  // namespace kel
