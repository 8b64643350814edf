// Percent-encoding of parameter names and values for form bodies.
#ifndef KEL_NET_URL_ESCAPE_H_
#define KEL_NET_URL_ESCAPE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "api/secure_wipe.h"

namespace kel {

// Every byte of `text` except the letters, the digits and "*-./@_" becomes
// "%" and two upper-case hexadecimal digits. A space is %20, never '+', and
// each byte of a multi-byte (GBK) character is escaped on its own.
std::string UrlEscape(std::string_view text);

// The length of UrlEscape(text), and UrlEscape(text) appended to `out`: for
// texts built in place, without temporaries that would each hold a copy.
std::size_t UrlEscapedLength(std::string_view text);
void AppendUrlEscaped(std::string_view text, SecretText *out);

}  // namespace kel

#endif  // KEL_NET_URL_ESCAPE_H_
