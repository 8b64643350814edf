// Percent-encoding of parameter names and values for form bodies.
#ifndef KEL_NET_URL_ESCAPE_H_
#define KEL_NET_URL_ESCAPE_H_

#include <cstddef>
#include <string>

namespace kel {

// Every byte of `text` except the letters, the digits and "*-./@_" becomes
// "%" and two upper-case hexadecimal digits. A space is %20, never '+', and
// each byte of a multi-byte (GBK) character is escaped on its own.
std::string UrlEscape(const std::string &text);

// The length of UrlEscape(text), and UrlEscape(text) appended to `out`: for
// texts built in place, without temporaries that would each hold a copy.
std::size_t UrlEscapedLength(const std::string &text);
void AppendUrlEscaped(const std::string &text, std::string *out);

}  // namespace kel

#endif  // KEL_NET_URL_ESCAPE_H_
