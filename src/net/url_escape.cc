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

std::size_t UrlEscapedLength(std::string_view text) {
  std::size_t length = 0;
  for (char c : text) length += kPassesUnescaped[static_cast<unsigned char>(c)] ? 1 : 3;
  return length;
}

void AppendUrlEscaped(std::string_view text, SecretText *out) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (kPassesUnescaped[byte]) {
      *out += c;
    } else {
      *out += '%';
      *out += kHexDigits[byte >> 4];
      *out += kHexDigits[byte & 0x0F];
    }
  }
}

std::string UrlEscape(std::string_view text) {
  SecretText escaped;
  escaped.reserve(UrlEscapedLength(text));
  AppendUrlEscaped(text, &escaped);
  return std::string(escaped.data(), escaped.size());
}

}  // namespace kel
