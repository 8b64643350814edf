// Reading the parts of a URL that the request needs: the scheme, and the
// host name and port of the authority. A URL has these only in the form
// scheme://authority/...; "host:8080/x" and "//host/x" have none, as with the
// Windows shell's splitter.
#ifndef KEL_NET_URL_PARTS_H_
#define KEL_NET_URL_PARTS_H_

#include <cstddef>
#include <string>

namespace kel {

// The position just behind the "://" that ends the URL's scheme; 0 when the
// URL does not start with a scheme followed by "://".
std::size_t AuthorityStart(const std::string &url);

// True when the URL's scheme is https, in any letter case.
bool IsHttpsUrl(const std::string &url);

struct UrlAuthority {
  std::string host;  // a bracketed IPv6 literal keeps its brackets
  bool has_port = false;
  std::string port;  // the text after ':', whatever it holds
};

// Splits the authority of `url` (user information dropped). False when the
// URL has no authority or its host name is empty.
bool ReadAuthority(const std::string &url, UrlAuthority *authority);

}  // namespace kel

#endif  // KEL_NET_URL_PARTS_H_
