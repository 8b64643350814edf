// The transport on POSIX systems: libcurl, configured to put on the wire what
// WinINet sends for the same request (agent "MyAgent", "Accept: */*", the
// form Content-Type, the target with a leading '/'), with time-outs so that
// neither a silent nor a trickling server can hold the host's thread for
// long. No proxy is used and no environment variable is read.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

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
std::atomic<long> total_timeout_ms{kDefaultTransportTimeouts.total_ms};

// Empty: the system's CA store, as libcurl was built to use.
std::mutex ca_file_mutex;
std::string ca_file;

// Abandons a transfer that moves no byte, up or down, for the stall time.
// libcurl's own low-speed check averages over a window of several seconds,
// so the request body just sent would keep a silent answer "fast" for a while.
struct StallWatch {
  std::chrono::steady_clock::time_point last_progress = std::chrono::steady_clock::now();
  curl_off_t last_bytes = 0;
  std::chrono::seconds limit;
  bool stalled = false;
};

int CheckStall(void *data, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) noexcept {
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

// What the write callback fills. libcurl is C: nothing may be thrown through
// it, so a failure to keep the bytes (no memory) ends the transfer and is
// raised again once curl_easy_perform has returned.
struct BodySink {
  BodyAccumulator *accumulator;
  std::exception_ptr failure;
};

size_t WriteBody(char *data, size_t size, size_t count, void *context) noexcept {
  auto *sink = static_cast<BodySink *>(context);
  try {
    // Returning fewer bytes than offered ends the transfer.
    return sink->accumulator->Append(data, size * count) == BodyAccumulator::State::kReading
               ? size * count
               : 0;
  } catch (...) {
    sink->failure = std::current_exception();
    return 0;
  }
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

// Ends an exchange without a body; `why` goes to the trace.
TransportResult Failed(TransportResult *outcome, const std::string &why) {
  outcome->body.clear();
  outcome->error = why;
  return std::move(*outcome);
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

void SetTransportCaFileForTesting(const std::string &path) {
  std::lock_guard<std::mutex> lock(ca_file_mutex);
  ca_file = path;
}

TransportTimeouts SetTransportTimeoutsForTesting(TransportTimeouts timeouts) {
  TransportTimeouts previous = {connect_timeout_ms.exchange(timeouts.connect_ms),
                                stall_timeout_seconds.exchange(timeouts.stall_seconds),
                                total_timeout_ms.exchange(timeouts.total_ms)};
  return previous;
}

TransportResult PerformExchange(const TransportRequest &request) {
  // The deadline counts from here, so that it covers name resolution and
  // connect as well as the transfer.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(total_timeout_ms.load());
  TransportResult outcome;
  if (request.host.empty()) return Failed(&outcome, "the URL names no host");
  if (HostIsUnsafe(request.host)) return Failed(&outcome, "the host name holds a delimiter");
  if (!CurlReady()) return Failed(&outcome, "libcurl did not initialise");
  // libcurl's own account of a failure, more precise than its error code's
  // text. Declared before the handle, which writes to it until cleaned up.
  char error_text[CURL_ERROR_SIZE] = {};
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return Failed(&outcome, "libcurl gave no handle");
  CURL *handle = curl.get();

  // "Expect:" keeps libcurl from waiting for a 100 Continue that WinINet
  // never asks for.
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const char *line :
       {"Accept: */*", "Content-Type: application/x-www-form-urlencoded", "Expect:"}) {
    curl_slist *grown = curl_slist_append(headers.get(), line);
    if (grown == nullptr) return Failed(&outcome, "no memory for the request headers");
    (void)headers.release();  // the list lives on at the head of `grown`
    headers.reset(grown);
  }

  std::string url = ServerUrl(request);
  std::string target = RequestTarget(request.object_name);
  const char *protocols = request.secure ? "https" : "http";
  BodyAccumulator accumulator;
  BodySink sink{&accumulator, nullptr};
  StallWatch stall_watch;
  stall_watch.limit = std::chrono::seconds(stall_timeout_seconds.load());
  bool configured =
      curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text) == CURLE_OK &&
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
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  if (request.post) {
    configured = configured &&
                 curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.content.data()) == CURLE_OK &&
                 curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(request.content.size())) == CURLE_OK;
  }
  {
    std::lock_guard<std::mutex> lock(ca_file_mutex);
    if (!ca_file.empty()) {
      configured = configured &&
                   curl_easy_setopt(handle, CURLOPT_CAINFO, ca_file.c_str()) == CURLE_OK &&
                   curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
  }
  if (!configured) return Failed(&outcome, "libcurl refused an option");

  // libcurl counts CURLOPT_TIMEOUT_MS from curl_easy_perform, resolution and
  // connect included; it gets what is left of the deadline (0 would mean no
  // limit at all).
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  deadline - std::chrono::steady_clock::now())
                  .count();
  if (left <= 0 ||
      curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(left)) != CURLE_OK) {
    return Failed(&outcome, "the deadline passed before the request was sent");
  }

  CURLcode result = curl_easy_perform(handle);
  if (sink.failure) std::rethrow_exception(sink.failure);
  long status = 0;
  curl_off_t uploaded = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
    outcome.status = status;
  }
  if (curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK && uploaded > 0) {
    outcome.sent = static_cast<std::uint64_t>(uploaded);
  }
  outcome.received = accumulator.received();
  switch (accumulator.state()) {
    case BodyAccumulator::State::kComplete:  // stopped on purpose at the zero byte
      outcome.body = accumulator.TakeBody();
      return outcome;
    case BodyAccumulator::State::kTooLong:
      return Failed(&outcome, "the answer is longer than 16 MiB");
    case BodyAccumulator::State::kReading:
      break;
  }
  if (result != CURLE_OK) {
    outcome.error = error_text[0] != '\0' ? error_text : curl_easy_strerror(result);
  }
  // A time-out fails the whole exchange; any other failure after part of the
  // body arrived (the server closed early, a broken read) keeps that part.
  // Whatever error ends a transfer that ran into the deadline counts as the
  // deadline's time-out: a trickle cut off there is never a short answer.
  if (stall_watch.stalled) {
    return Failed(&outcome,
                  "no byte moved for " + std::to_string(stall_watch.limit.count()) + " s");
  }
  if (result == CURLE_OPERATION_TIMEDOUT) return Failed(&outcome, outcome.error);
  if (result != CURLE_OK && std::chrono::steady_clock::now() >= deadline) {
    return Failed(&outcome, "at the deadline: " + outcome.error);
  }
  outcome.body = accumulator.TakeBody();
  return outcome;
}

}  // namespace kel
