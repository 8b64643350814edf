#include "net/http_request.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "net/http_transport.h"
#include "net/url_escape.h"
#include "net/url_parts.h"

namespace kel {
namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

// atoi as the Windows C runtime reads a port text: leading decimal digits, 0
// when there are none, clamped to the range of int instead of overflowing.
int PortNumber(const std::string &text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The request target, without its leading '/': the URL behind the first '/'
// that follows the host name. The host is searched behind the scheme's "://"
// (a host such as "h" would otherwise be found inside "http"); in a URL
// without a scheme the search starts at the first byte. When the host does
// not occur or no '/' follows it, the target is the whole URL.
std::string ObjectName(const std::string &url, const std::string &host) {
  std::size_t host_at = url.find(host, AuthorityStart(url));
  if (host_at == std::string::npos) return url;
  std::size_t slash = url.find('/', host_at);
  if (slash == std::string::npos) return url;
  return url.substr(slash + 1);
}

}  // namespace

HttpRequest::HttpRequest(const char *url, bool post) : url_(url ? url : ""), post_(post) {
  secure_ = IsHttpsUrl(url_);
  port_ = secure_ ? kHttpsPort : kHttpPort;
  std::string part;
  if (UrlHostPart(url_.c_str(), &part)) host_ = part;
  if (UrlPortPart(url_.c_str(), &part)) port_ = PortNumber(part);
  object_name_ = ObjectName(url_, host_);
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::AddParam(RequestParam *param) {
  if (param != nullptr) params_.emplace_back(param);
}

std::string HttpRequest::BuildQuery() const {
  std::string query;
  for (const auto &param : params_) {
    if (&param != &params_.front()) query += '&';
    query += UrlEscape(param->name);
    query += '=';
    query += UrlEscape(param->value);
  }
  return query;
}

const std::string &HttpRequest::Send() {
  TransportRequest request;
  request.host = host_;
  // The connection takes the low 16 bits of the port, as WinINet does.
  request.port = static_cast<std::uint16_t>(port_);
  request.secure = secure_;
  request.object_name = object_name_;
  request.post = post_;
  if (post_) {
    request.content = BuildQuery();
  } else {
    std::string query = BuildQuery();
    if (!query.empty()) {
      request.object_name += object_name_.find('?') == std::string::npos ? '?' : '&';
      request.object_name += query;
    }
  }
  body_ = PerformExchange(request);
  return body_;
}

}  // namespace kel
