// The transport on POSIX systems: libcurl, configured to put on the wire what
// WinINet sends for the same request (agent "MyAgent", "Accept: */*", the
// form Content-Type, the target with a leading '/'), with time-outs so that
// neither a silent nor a trickling server can hold the host's thread for
// long. The proxy comes from the variables read when the library was loaded
// (net/proxy_rules.h), decided here for each exchange and handed to libcurl
// explicitly, so that libcurl never reads the environment itself.
//
// Connections are kept from one exchange to the next, as WinINet keeps them:
// a repeated call saves the TCP connect and the TLS handshake, round trips
// that cost more than the exchange itself on a distant server. libcurl keeps
// the connection of an easy handle's last transfer, so idle handles wait in
// a pool between exchanges, each with the server of its last one; an
// exchange takes a handle that last served its server, or a new one. A
// handle is in one thread's hands at a time, and the pool's lock is held
// only to take or return one, never across the network. TLS sessions are
// shared by all handles (a libcurl share, whose locks libcurl holds only
// briefly), so that a new connection resumes the session of an earlier one.
//
// The pool is bounded: at most kIdleHandles handles wait, each with at most
// one connection, the least recently used closed first, and one idle for
// kIdleSeconds is closed by the next exchange (the library runs no thread
// of its own to do it sooner). An exchange that fails or ends early leaves
// no connection to reuse: libcurl closes the connection of a transfer that
// does not complete (a time-out, a stop by the write or progress callback, a
// broken read), and a handle whose transfer never returned (its thread was
// cancelled) is closed rather than returned.
#include <curl/curl.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/call_gate.h"
#include "net/body_accumulator.h"
#include "net/http_transport.h"
#include "net/proxy_rules.h"
#include "net/url_parts.h"

namespace kel {
namespace {

// The size of the buffer the shell's URL splitter is given on Windows: a host
// name of this length or more yields no host there, and so none here.
constexpr std::size_t kUrlPartBufferSize = 260;

// How many idle handles (so idle connections) the pool keeps, and for how
// long one may wait for its next exchange.
constexpr std::size_t kIdleHandles = 4;
constexpr long kIdleSeconds = 30;

std::atomic<bool> reuse_connections{true};

// Empty: the system's CA store, as libcurl was built to use.
std::mutex ca_file_mutex;
ModuleStatic<std::string> ca_file;

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
SecretText RequestTarget(const SecretText &object_name) {
  static const char kHex[] = "0123456789ABCDEF";
  SecretText target;
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

// The scheme, host and port; the target goes through CURLOPT_REQUEST_TARGET
// byte for byte, untouched by libcurl's URL parser (which would drop a
// fragment or remove dot segments).
std::string ServerOrigin(const TransportRequest &request) {
  std::string url = request.secure ? "https://" : "http://";
  url += request.host;
  if (request.port != 0) url += ":" + std::to_string(request.port);
  return url;
}

// The request line's target. An HTTP proxy that relays a plain http request
// needs it in absolute form, "http://host:port/..."; libcurl does not build
// that form itself once the target is given. Through a tunnel (https) or a
// SOCKS proxy the server gets the target as it is.
SecretText WireTarget(const TransportRequest &request, const std::string &proxy) {
  SecretText target = RequestTarget(request.object_name);
  if (proxy.empty() || request.secure || !IsHttpProxy(proxy)) return target;
  std::string origin = ServerOrigin(request);
  SecretText absolute(origin.data(), origin.size());
  absolute += target;
  return absolute;
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

// The request body, handed to libcurl piece by piece. There is no seek
// callback: libcurl cannot rewind the body, so it cannot send it twice.
struct BodySource {
  const char *data;
  std::size_t left;
};

size_t ReadBody(char *buffer, size_t size, size_t count, void *context) noexcept {
  auto *source = static_cast<BodySource *>(context);
  std::size_t taken = std::min(size * count, source->left);
  std::memcpy(buffer, source->data, taken);
  source->data += taken;
  source->left -= taken;
  return taken;
}

class HandlePool {
 public:
  HandlePool();

  // A handle for an exchange with `server` (scheme, host and port): the one
  // that served it last, or a new one. Null when libcurl gives none.
  CURL *Take(const std::string &server);
  // Takes back a handle whose transfer returned: it waits for the next
  // exchange with `server`, or is closed when the pool is full or closed.
  // Allocates nothing: it runs in a destructor, also while an exception
  // unwinds the exchange.
  void Give(CURL *handle, std::string server) noexcept;
  // Closes the idle handles, and from now on every handle given back.
  void Close();

  // Around fork(): the locks are held across it, so that no other thread
  // leaves one held in the child, and the child drops the idle handles and
  // the share. Their sockets and TLS sessions belong to the parent: a child
  // that wrote to them would corrupt the parent's exchanges, and even
  // closing a TLS connection writes to it.
  void BeforeFork();
  void AfterForkInParent();
  void AfterForkInChild();

 private:
  struct Idle {
    CURL *handle;
    std::string server;
    std::chrono::steady_clock::time_point since;
  };
  // Handles to close once the lock is released: the expired ones, and one
  // pushed out by the handle given back.
  struct Closing {
    CURL *handles[kIdleHandles + 1];
    std::size_t count = 0;
    ~Closing() {
      for (std::size_t i = 0; i < count; ++i) curl_easy_cleanup(handles[i]);
    }
  };

  // Moves the handles idle for kIdleSeconds or more to `expired`. Under the lock.
  void TakeExpired(Closing *expired) noexcept;
  // Under the lock.
  CURLSH *Share();

  static void LockShared(CURL *, curl_lock_data data, curl_lock_access, void *pool) noexcept;
  static void UnlockShared(CURL *, curl_lock_data data, void *pool) noexcept;

  std::mutex mutex_;
  std::vector<Idle> idle_;  // the least recently used first
  bool closed_ = false;
  CURLSH *share_ = nullptr;        // made on first use; given up in a child process
  std::vector<void *> inherited_;  // a child's handles and share of its parent
  std::mutex share_locks_[CURL_LOCK_DATA_LAST];
};

HandlePool &Pool();

HandlePool::HandlePool() {
  idle_.reserve(kIdleHandles + 1);  // Give never grows it under the lock
  pthread_atfork([] { Pool().BeforeFork(); }, [] { Pool().AfterForkInParent(); },
                 [] { Pool().AfterForkInChild(); });
}

CURL *HandlePool::Take(const std::string &server) {
  Closing expired;
  CURL *handle = nullptr;
  CURLSH *share = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeExpired(&expired);
    for (auto idle = idle_.rbegin(); idle != idle_.rend(); ++idle) {
      if (idle->server == server) {
        handle = idle->handle;
        idle_.erase(std::next(idle).base());
        break;
      }
    }
    // A share, once made, lives as long as the process.
    if (handle == nullptr && !closed_) share = Share();
  }
  if (handle != nullptr) return handle;
  handle = curl_easy_init();
  if (handle != nullptr && share != nullptr) curl_easy_setopt(handle, CURLOPT_SHARE, share);
  return handle;
}

void HandlePool::Give(CURL *handle, std::string server) noexcept {
  // Forgets the exchange's options, which point into its stack frame; the
  // connection, the share and the session cache stay.
  curl_easy_reset(handle);
  Closing closing;
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    closing.handles[closing.count++] = handle;
    return;
  }
  TakeExpired(&closing);
  // Within the capacity reserved: no allocation.
  idle_.push_back({handle, std::move(server), std::chrono::steady_clock::now()});
  if (idle_.size() > kIdleHandles) {
    closing.handles[closing.count++] = idle_.front().handle;
    idle_.erase(idle_.begin());
  }
}

void HandlePool::Close() {
  std::vector<Idle> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    idle.swap(idle_);
  }
  for (const Idle &entry : idle) curl_easy_cleanup(entry.handle);
}

void HandlePool::BeforeFork() {
  mutex_.lock();
  for (std::mutex &lock : share_locks_) lock.lock();
}

void HandlePool::AfterForkInParent() {
  for (std::mutex &lock : share_locks_) lock.unlock();
  mutex_.unlock();
}

void HandlePool::AfterForkInChild() {
  // Never cleaned up (see above), but kept where a leak checker finds them.
  for (const Idle &entry : idle_) inherited_.push_back(entry.handle);
  if (share_ != nullptr) inherited_.push_back(share_);
  idle_.clear();
  share_ = nullptr;
  AfterForkInParent();
}

void HandlePool::TakeExpired(Closing *expired) noexcept {
  const auto oldest = std::chrono::steady_clock::now() - std::chrono::seconds(kIdleSeconds);
  std::size_t count = 0;
  while (count < idle_.size() && idle_[count].since <= oldest) {
    expired->handles[expired->count++] = idle_[count++].handle;
  }
  idle_.erase(idle_.begin(), idle_.begin() + static_cast<std::ptrdiff_t>(count));
}

CURLSH *HandlePool::Share() {
  if (share_ != nullptr) return share_;
  CURLSH *share = curl_share_init();
  if (share == nullptr) return nullptr;
  if (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShared) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShared) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
    curl_share_cleanup(share);
    return nullptr;
  }
  share_ = share;
  return share_;
}

void HandlePool::LockShared(CURL *, curl_lock_data data, curl_lock_access, void *pool) noexcept {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
    static_cast<HandlePool *>(pool)->share_locks_[data].lock();
  }
}

void HandlePool::UnlockShared(CURL *, curl_lock_data data, void *pool) noexcept {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
    static_cast<HandlePool *>(pool)->share_locks_[data].unlock();
  }
}

// Closes the idle connections when the library is unloaded or the process
// ends. The pool itself is never destroyed: a thread still in an exchange
// then gives its handle back to a closed pool, which closes it.
struct PoolCloser {
  ~PoolCloser() { Pool().Close(); }
};

// First called after libcurl's global initialisation, which initialises
// OpenSSL: the closer, registered after OpenSSL's own clean-up at exit,
// runs before it.
HandlePool &Pool() {
  static HandlePool *const pool = new HandlePool;
  static PoolCloser closer;
  return *pool;
}

// The easy handle of one exchange. Once its transfer has returned, it goes
// back to the pool; one whose transfer never returned (the thread was
// cancelled inside it) is closed, with its connection.
class Lease {
 public:
  explicit Lease(std::string server)
      : server_(std::move(server)), pooled_(reuse_connections.load()) {
    handle_ = pooled_ ? Pool().Take(server_) : curl_easy_init();
  }
  ~Lease() {
    if (handle_ == nullptr) return;
    if (pooled_ && returned_) {
      Pool().Give(handle_, std::move(server_));
    } else {
      curl_easy_cleanup(handle_);
    }
  }
  Lease(const Lease &) = delete;
  Lease &operator=(const Lease &) = delete;

  CURL *get() const { return handle_; }
  void TransferReturned() { returned_ = true; }

 private:
  std::string server_;
  bool pooled_;
  bool returned_ = false;
  CURL *handle_ = nullptr;
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

// Ends an exchange that went no further than `end`; `why` goes to the trace.
TransportResult Ended(TransportResult *outcome, TransportEnd end, const std::string &why) {
  outcome->end = end;
  outcome->error = why;
  return std::move(*outcome);
}

// Every socket is created close-on-exec, in the same call: a program that
// the host starts (with fork and exec, or system()) must not inherit the
// library's kept connections, and another thread may fork at any moment.
curl_socket_t OpenSocket(void *, curlsocktype, curl_sockaddr *address) noexcept {
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Options that stay the same for every exchange, the headers, and the proxy
// chosen for this one (empty: none).
bool SetCommonOptions(CURL *handle, curl_slist *headers, bool secure, const std::string &proxy) {
  return curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, secure ? "https" : "http") == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_USERAGENT, "MyAgent") == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
         // Given both, libcurl reads no proxy variable: an empty proxy name
         // means none, and an empty list of exceptions keeps it from reading
         // no_proxy for one.
         curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_NOPROXY, "") == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, OpenSocket) == CURLE_OK &&
         // A name lookup still running at the deadline is left to finish on
         // its own thread instead of holding the call past the deadline.
         curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_MAXCONNECTS, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_MAXAGE_CONN, kIdleSeconds) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
}

// The CA file that tests may set in place of the system's store.
bool SetCaFile(CURL *handle) {
  std::lock_guard<std::mutex> lock(ca_file_mutex);
  return ca_file.get().empty() ||
         (curl_easy_setopt(handle, CURLOPT_CAINFO, ca_file.get().c_str()) == CURLE_OK &&
          curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr) == CURLE_OK);
}

// The request headers: "Expect:" keeps libcurl from waiting for a 100
// Continue that WinINet never asks for.
std::unique_ptr<curl_slist, SlistDeleter> RequestHeaders() {
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const char *line :
       {"Accept: */*", "Content-Type: application/x-www-form-urlencoded", "Expect:"}) {
    curl_slist *grown = curl_slist_append(headers.get(), line);
    if (grown == nullptr) return nullptr;
    (void)headers.release();  // the list lives on at the head of `grown`
    headers.reset(grown);
  }
  return headers;
}

// How far a transfer got, from the times libcurl noted (0: not reached).
TransportPhase PhaseReached(CURL *handle, bool secure, std::uint64_t body_size,
                            std::uint64_t sent) {
  curl_off_t lookup = 0, connect = 0, tls = 0, ready = 0, first_byte = 0;
  curl_easy_getinfo(handle, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
  curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connect);
  curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &tls);
  curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &ready);
  curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &first_byte);
  if (first_byte > 0) return TransportPhase::kReceive;
  if (ready > 0) return sent < body_size ? TransportPhase::kSend : TransportPhase::kWait;
  if (connect > 0) return secure && tls == 0 ? TransportPhase::kTls : TransportPhase::kSend;
  return lookup > 0 ? TransportPhase::kConnect : TransportPhase::kNameLookup;
}

// What the peer verification of an https exchange rejected, from the
// verify result that OpenSSL left. OpenSSL rejects a chain during the
// handshake; libcurl's own host name check runs after it and before libcurl
// records the result, which then still holds its initial value (1) or
// X509_V_OK. Another TLS backend has verify results of its own, so its
// rejections stay unnamed.
CertificateProblem CertificateProblemOf(CURL *handle) {
  static const bool openssl = [] {
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && info->ssl_version != nullptr &&
           std::strncmp(info->ssl_version, "OpenSSL", 7) == 0;
  }();
  long verify = -1;
  if (!openssl || curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verify) != CURLE_OK) {
    return CertificateProblem::kRejected;
  }
  // OpenSSL's X509_V_OK and X509_V_ERR_* values.
  switch (verify) {
    case 0:
    case 1:
    case 62:  // hostname mismatch
      return CertificateProblem::kWrongHost;
    case 18:  // depth zero self-signed
    case 19:  // self-signed certificate in chain
      return CertificateProblem::kSelfSigned;
    case 2:   // unable to get issuer certificate
    case 20:  // unable to get local issuer certificate
    case 21:  // unable to verify the first certificate
      return CertificateProblem::kUntrusted;
    case 9:   // not yet valid
    case 10:  // expired
      return CertificateProblem::kExpired;
    default:
      return CertificateProblem::kRejected;
  }
}

bool IsTlsFailure(CURLcode result) {
  switch (result) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

// What a transfer that returned `result` saw, and how it ended.
TransportResult Finished(CURL *handle, const TransportRequest &request, CURLcode result,
                         const char *error_text, const StallWatch &stall_watch,
                         BodyAccumulator *accumulator) {
  TransportResult outcome;
  long status = 0;
  curl_off_t uploaded = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
    outcome.status = status;
  }
  if (curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK && uploaded > 0) {
    outcome.sent = static_cast<std::uint64_t>(uploaded);
  }
  outcome.received = accumulator->received();
  outcome.phase = PhaseReached(handle, request.secure, request.content.size(), outcome.sent);
  if (accumulator->state() == BodyAccumulator::State::kTooLong) {
    return Ended(&outcome, TransportEnd::kTooLong, "the answer is longer than 16 MiB");
  }
  outcome.body = accumulator->TakeBody();
  // Stopped on purpose at the zero byte, or the answer's end.
  if (accumulator->state() == BodyAccumulator::State::kComplete || result == CURLE_OK) {
    outcome.end = TransportEnd::kAnswered;
    return outcome;
  }
  if (stall_watch.stalled) {
    return Ended(&outcome, TransportEnd::kTimedOut,
                 "no byte moved for " + std::to_string(stall_watch.limit.count()) + " s");
  }
  if (result == CURLE_PEER_FAILED_VERIFICATION) outcome.certificate = CertificateProblemOf(handle);
  // libcurl notes the connect time only once the TLS handshake is done too,
  // so a failed handshake would read as a failed connect.
  if (IsTlsFailure(result)) outcome.phase = TransportPhase::kTls;
  std::string why = error_text[0] != '\0' ? error_text : curl_easy_strerror(result);
  if (result == CURLE_OPERATION_TIMEDOUT) return Ended(&outcome, TransportEnd::kTimedOut, why);
  // A send that libcurl would have had to repeat (CURLE_SEND_FAIL_REWIND)
  // ends here too: the server may have taken the request.
  return Ended(&outcome, outcome.received > 0 ? TransportEnd::kCutShort : TransportEnd::kFailed,
               why);
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

bool SetTransportReuseForTesting(bool reuse) { return reuse_connections.exchange(reuse); }

void SetTransportCaFileForTesting(const std::string &path) {
  std::lock_guard<std::mutex> lock(ca_file_mutex);
  ca_file.get() = path;
}

TransportResult PerformExchange(const TransportRequest &request) {
  const TransportTimeouts timeouts = CurrentTransportTimeouts();
  TransportResult outcome;
  if (HostIsUnsafe(request.host)) {
    return Ended(&outcome, TransportEnd::kNotSent, "the host name holds a delimiter");
  }
  if (!CurlReady()) return Ended(&outcome, TransportEnd::kNotSent, "libcurl did not initialise");
  // libcurl's own account of a failure, more precise than its error code's
  // text. Declared before the handle, which writes to it until cleaned up.
  char error_text[CURL_ERROR_SIZE] = {};
  const std::string proxy = ProxyFor(LoadedProxyVariables(), request.secure, request.host);
  if (!proxy.empty()) outcome.proxy = ProxyTraceName(proxy);
  std::string url = ServerOrigin(request) + "/";
  Lease lease(url);
  CURL *handle = lease.get();
  if (handle == nullptr) return Ended(&outcome, TransportEnd::kNotSent, "libcurl gave no handle");
  auto headers = RequestHeaders();
  if (headers == nullptr) {
    return Ended(&outcome, TransportEnd::kNotSent, "no memory for the request headers");
  }

  SecretText target = WireTarget(request, proxy);
  BodyAccumulator accumulator;
  BodySink sink{&accumulator, nullptr};
  BodySource source{request.content.data(), request.content.size()};
  StallWatch stall_watch;
  stall_watch.limit = std::chrono::seconds(timeouts.stall_seconds);
  // libcurl counts CURLOPT_TIMEOUT_MS from curl_easy_perform, resolution and
  // connect included; it gets what is left of the deadline (0 would mean no
  // limit at all).
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  request.deadline - std::chrono::steady_clock::now())
                  .count();
  if (left <= 0) {
    return Ended(&outcome, TransportEnd::kTimedOut,
                 "the deadline passed before the request was sent");
  }
  bool configured =
      SetCommonOptions(handle, headers.get(), request.secure, proxy) && SetCaFile(handle) &&
      curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_REQUEST_TARGET, target.c_str()) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connect_ms) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(left)) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStall) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &stall_watch) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
  if (request.post) {
    configured = configured && curl_easy_setopt(handle, CURLOPT_POST, 1L) == CURLE_OK &&
                 curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadBody) == CURLE_OK &&
                 curl_easy_setopt(handle, CURLOPT_READDATA, &source) == CURLE_OK &&
                 curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(request.content.size())) == CURLE_OK;
  }
  if (!configured) return Ended(&outcome, TransportEnd::kNotSent, "libcurl refused an option");

  CURLcode result = curl_easy_perform(handle);
  lease.TransferReturned();
  if (sink.failure) std::rethrow_exception(sink.failure);
  TransportResult finished =
      Finished(handle, request, result, error_text, stall_watch, &accumulator);
  finished.proxy = std::move(outcome.proxy);
  return finished;
}

}  // namespace kel
