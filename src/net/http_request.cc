#include "net/http_request.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "api/secure_wipe.h"
#include "net/http_transport.h"
#include "net/url_escape.h"
#include "net/url_parts.h"

namespace kel {
namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kNoValidPort = 0;

// The URL's port text as a TCP port: decimal digits only, 1 to 65535. Any
// other text (a sign, letters, an empty or out-of-range number) names no
// port the request could reach, and gives kNoValidPort.
int PortNumber(const std::string &text) {
  if (text.empty()) return kNoValidPort;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kNoValidPort;
    value = value * 10 + (c - '0');
    if (value > 65535) return kNoValidPort;
  }
  return value == 0 ? kNoValidPort : static_cast<int>(value);
}

// The text before the URL's fragment: a fragment belongs to the client and is
// never sent.
std::string WithoutFragment(const std::string &text) { return text.substr(0, text.find('#')); }

// The request target, without its leading '/'. With a host, the target is
// what follows the authority: the text behind its '/', or the query that
// follows it directly; nothing when the URL ends there, so that the root is
// requested. The host is searched behind the scheme's "://" (a host such as
// "h" would otherwise be found inside "http"). Without a host name the URL
// names no server (Send then fails); the target is then what follows the
// first '/' behind any scheme, or the whole URL.
std::string ObjectName(const std::string &url, const std::string &host) {
  std::size_t host_at = host.empty() ? std::string::npos : url.find(host, AuthorityStart(url));
  if (host_at == std::string::npos) {
    std::size_t slash = url.find('/', AuthorityStart(url));
    return WithoutFragment(slash == std::string::npos ? url : url.substr(slash + 1));
  }
  std::size_t end = url.find_first_of("/?#", host_at + host.size());
  if (end == std::string::npos) return std::string();
  return WithoutFragment(url.substr(url[end] == '/' ? end + 1 : end));
}

// The UrlMend bits for a URL whose host the request found (a URL without
// one names no server, so nothing is mended).
unsigned MendsOf(const std::string &url, const std::string &host, bool has_port, bool secure) {
  std::size_t start = AuthorityStart(url);
  if (host.empty() || start == 0) return 0;
  unsigned mends = has_port ? 0u : unsigned{kMendDefaultPort};
  std::size_t authority_end = url.find_first_of("/?#", start);
  if (url.substr(start, authority_end - start).find('@') != std::string::npos) {
    mends |= kMendUserDropped;
  }
  if (url.find('#') != std::string::npos) mends |= kMendFragmentDropped;
  if (authority_end == std::string::npos || url[authority_end] != '/') mends |= kMendRootPath;
  std::string scheme = url.substr(0, start - 3);
  for (char &c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (!secure && scheme != "http") mends |= kMendSchemeTakenAsHttp;
  return mends;
}

}  // namespace

HttpRequest::HttpRequest(const char *url, bool post) : url_(url ? url : ""), post_(post) {
  secure_ = IsHttpsUrl(url_);
  port_ = secure_ ? kHttpsPort : kHttpPort;
  std::string part;
  if (UrlHostPart(url_.c_str(), &part)) host_ = part;
  if (UrlPortPart(url_.c_str(), &part)) {
    port_ = PortNumber(part);
    port_text_ = part;
  }
  object_name_ = ObjectName(url_, host_);
  mends_ = MendsOf(url_, host_, !port_text_.empty(), secure_);
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::AddParam(RequestParam param) { params_.push_back(std::move(param)); }

SecretText HttpRequest::BuildQuery() const {
  // Sized first and escaped in place, so that it is built in one block.
  std::size_t length = 0;
  for (const auto &param : params_) {
    length += UrlEscapedLength(param.name) + UrlEscapedLength(param.value) + 2;
  }
  SecretText query;
  query.reserve(length);
  for (const auto &param : params_) {
    if (&param != &params_.front()) query += '&';
    AppendUrlEscaped(param.name, &query);
    query += '=';
    AppendUrlEscaped(param.value, &query);
  }
  return query;
}

namespace {

// The body an exchange gives, from how it ended: an answer cut off by a
// broken connection keeps what arrived, unless the deadline had passed by
// then (a trickle cut off there is never taken for a short answer); every
// other failure gives none.
bool KeepsBody(TransportResult *result, std::chrono::steady_clock::time_point deadline) {
  if (result->end == TransportEnd::kCutShort && std::chrono::steady_clock::now() >= deadline) {
    result->end = TransportEnd::kTimedOut;
    result->error = "at the deadline: " + result->error;
  }
  return result->end == TransportEnd::kAnswered || result->end == TransportEnd::kCutShort;
}

}  // namespace

std::string HttpRequest::Send() {
  result_ = TransportResult();
  // A URL without a host, or whose port is not a number from 1 to 65535,
  // names no server: nothing is sent.
  if (host_.empty()) {
    result_.error = "the URL names no host";
    return std::string();
  }
  if (port_ == kNoValidPort) {
    result_.error = "the URL's port is not a number from 1 to 65535";
    return std::string();
  }
  TransportRequest request;
  request.host = host_;
  // The connection takes the low 16 bits of the port, as WinINet does.
  request.port = static_cast<std::uint16_t>(port_);
  request.secure = secure_;
  request.object_name.assign(object_name_.data(), object_name_.size());
  request.post = post_;
  if (post_) {
    request.content = BuildQuery();
  } else {
    SecretText query = BuildQuery();
    if (!query.empty()) {
      request.object_name += object_name_.find('?') == std::string::npos ? '?' : '&';
      request.object_name += query;
    }
  }
  // The deadline counts from here, so that it covers name resolution and
  // connect as well as the transfer.
  request.deadline = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(CurrentTransportTimeouts().total_ms);
  result_ = PerformExchange(request);
  std::string body;
  if (KeepsBody(&result_, request.deadline)) body.swap(result_.body);
  std::string().swap(result_.body);
  if (body.empty() && result_.error.empty()) result_.error = "the answer body is empty";
  return body;
}

}  // namespace kel
