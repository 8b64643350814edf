#include "key_text.h"

#include <cstring>

namespace kestro {
namespace {

constexpr char kPrefix[] = "ecdsa-";
constexpr std::size_t kPrefixLength = sizeof(kPrefix) - 1;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseAlgorithm(const std::string &algorithm, Curve *curve, Hash *hash) {
  if (algorithm.compare(0, kPrefixLength, kPrefix) != 0) return false;
  std::size_t dash = algorithm.find('-', kPrefixLength);
  if (dash == std::string::npos) return false;
  return CurveFromName(algorithm.substr(kPrefixLength, dash - kPrefixLength), curve) &&
         HashFromName(algorithm.substr(dash + 1), hash);
}

bool ParsePublicKeyText(const char *text, PublicKey *key) {
  if (text == nullptr) return false;
  const char *plus = std::strchr(text, '+');
  if (plus == nullptr) return false;
  if (!ParseAlgorithm(std::string(text, plus), &key->curve, &key->hash)) return false;

  const char *hex = plus + 1;
  std::size_t hex_length = std::strlen(hex);
  std::size_t point_size = 1 + 2 * CoordinateSize(key->curve);
  if (hex_length != 2 * point_size) return false;
  key->point.resize(point_size);
  for (std::size_t i = 0; i < point_size; ++i) {
    int high = HexValue(hex[2 * i]);
    int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key->point[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return key->point[0] == 0x04;
}

std::string FormatPublicKeyText(const PublicKey &key) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = kPrefix;
  text += CurveName(key.curve);
  text += '-';
  text += HashName(key.hash);
  text += '+';
  for (unsigned char byte : key.point) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace kestro
