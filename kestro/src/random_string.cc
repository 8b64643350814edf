#include "random_string.h"

#include "backend.h"

namespace kestro {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kAlphabetSize = sizeof(kAlphabet) - 1;  // 62
// Bytes at or above this would favour the first characters: 256 = 4 * 62 + 8.
constexpr unsigned kAcceptBelow = 256 / kAlphabetSize * kAlphabetSize;  // 248

}  // namespace

bool FillRandomAlphanumeric(char *out, std::size_t count) {
  unsigned char pool[64];
  while (count > 0) {
    if (!backend::RandomBytes(pool, sizeof pool)) return false;
    for (unsigned char byte : pool) {
      if (byte >= kAcceptBelow) continue;
      *out++ = kAlphabet[byte % kAlphabetSize];
      if (--count == 0) break;
    }
  }
  return true;
}

}  // namespace kestro
