#include "module/key_text_facts.h"

#include <cstring>

#include "codec/sha256.h"

namespace kel {
namespace {

constexpr std::size_t kFingerprintDigits = 16;

bool IsNamePart(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "ecdsa-<curve>-<hash>", each name lowercase letters and digits.
bool IsAlgorithmName(const std::string &name) {
  static const char kPrefix[] = "ecdsa-";
  if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  std::size_t dash = name.find('-', sizeof kPrefix - 1);
  if (dash == std::string::npos || dash == sizeof kPrefix - 1 || dash + 1 == name.size()) {
    return false;
  }
  for (std::size_t i = sizeof kPrefix - 1; i < name.size(); ++i) {
    if (i != dash && !IsNamePart(name[i])) return false;
  }
  return true;
}

// An uncompressed point in hex: 04 followed by two coordinates of one size.
bool IsPointHex(const std::string &hex) {
  if (hex.size() < 6 || (hex.size() - 2) % 4 != 0 || hex.compare(0, 2, "04") != 0) return false;
  for (char c : hex) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

}  // namespace

std::string KeyFingerprint(const char *text) {
  if (text == nullptr) return "none";
  return Sha256Hex(text).substr(0, kFingerprintDigits);
}

std::string KeyTextForm(const char *text) {
  if (text == nullptr) return "none";
  if (text[0] == '\0') return "empty";
  const char *plus = std::strchr(text, '+');
  if (plus == nullptr) return "unrecognised";
  std::string algorithm(text, plus);
  return IsAlgorithmName(algorithm) && IsPointHex(plus + 1) ? algorithm : "unrecognised";
}

}  // namespace kel
