#include "net/url_parts.h"

namespace kel {
namespace {

// ASCII tests only: the host's locale must not decide whether a URL names a
// server.
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSchemeChar(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

// The length of the scheme at the start of `url` (without ':'), 0 if none.
std::size_t SchemeLength(const std::string &url) {
  if (url.empty() || !IsAsciiLetter(url[0])) return 0;
  std::size_t length = 1;
  while (length < url.size() && IsSchemeChar(url[length])) ++length;
  return url.compare(length, 3, "://") == 0 ? length : 0;
}

}  // namespace

std::size_t AuthorityStart(const std::string &url) {
  std::size_t scheme = SchemeLength(url);
  return scheme == 0 ? 0 : scheme + 3;
}

bool IsHttpsUrl(const std::string &url) {
  if (SchemeLength(url) != 5) return false;
  static const char kHttps[] = "https";
  for (std::size_t i = 0; i < 5; ++i) {
    if (AsciiLower(url[i]) != kHttps[i]) return false;
  }
  return true;
}

bool ReadAuthority(const std::string &url, UrlAuthority *authority) {
  std::size_t start = AuthorityStart(url);
  if (start == 0) return false;
  std::size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  std::size_t at = url.rfind('@', end - 1);
  if (at != std::string::npos && at >= start) start = at + 1;

  std::size_t host_end;
  if (start < end && url[start] == '[') {
    std::size_t bracket = url.find(']', start);
    host_end = (bracket == std::string::npos || bracket >= end) ? end : bracket + 1;
  } else {
    host_end = url.find(':', start);
    if (host_end == std::string::npos || host_end > end) host_end = end;
  }
  if (host_end == start) return false;

  authority->host = url.substr(start, host_end - start);
  authority->has_port = host_end + 1 < end && url[host_end] == ':';
  authority->port = authority->has_port ? url.substr(host_end + 1, end - host_end - 1) : "";
  return true;
}

}  // namespace kel
