#include "net/url_escape.h"

#include <array>

namespace kel {
namespace {

// True for the 68 bytes that pass unescaped: A-Z a-z 0-9 and "*-./@_".
constexpr std::array<bool, 256> MakePassTable() {
  std::array<bool, 256> pass{};
  for (int c = '0'; c <= '9'; ++c) pass[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) pass[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) pass[c] = true;
  for (char c : {'*', '-', '.', '/', '@', '_'}) pass[static_cast<unsigned char>(c)] = true;
  return pass;
}

constexpr std::array<bool, 256> kPassesUnescaped = MakePassTable();
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string UrlEscape(const std::string &text) {
  std::string escaped;
  escaped.reserve(text.size() * 3);
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (kPassesUnescaped[byte]) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHexDigits[byte >> 4];
      escaped += kHexDigits[byte & 0x0F];
    }
  }
  return escaped;
}

}  // namespace kel
