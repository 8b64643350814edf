// URL splitting and escaping: a request built from an arbitrary URL, its
// parts read back, and the input escaped as a parameter name and value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http_request.h"
#include "net/url_escape.h"
#include "net/url_parts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);

  kel::HttpRequest request(input.c_str(), true);
  (void)request.port();  // any int: the connection takes its low 16 bits
  request.AddParam({input, kel::SecretText(input.data(), input.size())});
  kel::SecretText query = request.BuildQuery();

  // Escaped text holds only the characters left alone and %XX escapes.
  for (char c : query) {
    bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 c == '*' || c == '-' || c == '.' || c == '/' || c == '@' || c == '_' || c == '%' ||
                 c == '=' || c == '&';
    if (!plain) std::abort();
  }
  std::string escaped = kel::UrlEscape(input);
  if (escaped.size() < input.size()) std::abort();

  kel::UrlAuthority authority;
  if (kel::ReadAuthority(input, &authority) && authority.host.empty()) std::abort();
  if (kel::AuthorityStart(input) > input.size()) std::abort();
  (void)kel::IsHttpsUrl(input);
  return 0;
}
