// Reading a decimal number the way the C library's atoi does, from a range of
// bytes, without depending on the host's locale.
#ifndef KEL_SEAL_DECIMAL_H_
#define KEL_SEAL_DECIMAL_H_

#include <cstdint>

namespace kel {

// Leading white space, an optional sign, then decimal digits up to the first
// other byte or `end`; 0 when there are no digits. The range is short (at
// most 8 bytes where the library uses it), so the value always fits.
inline std::int64_t ReadDecimal(const char *begin, const char *end) {
  const char *p = begin;
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::int64_t value = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
  return negative ? -value : value;
}

}  // namespace kel

#endif  // KEL_SEAL_DECIMAL_H_
