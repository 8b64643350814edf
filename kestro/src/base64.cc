#include "base64.h"

namespace kestro {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character, or -1.
int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string Base64Encode(const unsigned char *data, std::size_t length) {
  std::string text;
  text.reserve((length + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    unsigned long group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  std::size_t rest = length - i;
  if (rest != 0) {
    unsigned long group = data[i] << 16;
    if (rest == 2) group |= data[i + 1] << 8;
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

bool Base64Decode(const char *text, Bytes *out) {
  out->clear();
  if (text == nullptr) return false;
  int values[4];
  int filled = 0;      // characters in the current group
  int padding = 0;     // '=' seen in the current group
  bool ended = false;  // a padded group was complete: only white space may follow
  for (const char *p = text; *p != '\0'; ++p) {
    char c = *p;
    if (IsAsciiSpace(c)) continue;
    if (ended) return false;
    if (c == '=') {
      // Padding may only take the places 3 and 4 of a group.
      if (filled < 2) return false;
      ++padding;
      values[filled++] = 0;
    } else {
      int value = ValueOf(c);
      if (value < 0 || padding != 0) return false;
      values[filled++] = value;
    }
    if (filled == 4) {
      unsigned long group = (static_cast<unsigned long>(values[0]) << 18) |
                            (static_cast<unsigned long>(values[1]) << 12) |
                            (static_cast<unsigned long>(values[2]) << 6) |
                            static_cast<unsigned long>(values[3]);
      out->push_back(static_cast<unsigned char>(group >> 16));
      if (padding == 2) {
        if ((group & 0xFFFF) != 0) return false;  // stray bits in "xx=="
      } else {
        out->push_back(static_cast<unsigned char>(group >> 8));
        if (padding == 1) {
          if ((group & 0xFF) != 0) return false;  // stray bits in "xxx="
        } else {
          out->push_back(static_cast<unsigned char>(group));
        }
      }
      ended = padding != 0;
      filled = 0;
    }
  }
  return filled == 0;
}

}  // namespace kestro
