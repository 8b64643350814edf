#include "random_string.h"

#include "backend.h"
#include "wipe.h"

namespace kestro {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kAlphabetSize = sizeof(kAlphabet) - 1;  // 62
// Bytes at or above this would favour the first characters: 256 = 4 * 62 + 8.
constexpr unsigned kAcceptBelow = 256 / kAlphabetSize * kAlphabetSize;  // 248

}  // namespace

bool FillRandomAlphanumeric(char *out, std::size_t count) {
  // The pool's bytes become keys: they are wiped on every way out.
  unsigned char pool[64];
  bool filled = true;
  while (count > 0 && filled) {
    filled = backend::RandomBytes(pool, sizeof pool);
    if (!filled) break;
    for (unsigned char byte : pool) {
      if (byte >= kAcceptBelow) continue;
      *out++ = kAlphabet[byte % kAlphabetSize];
      if (--count == 0) break;
    }
  }
  Wipe(pool, sizeof pool);
  return filled;
}

}  // namespace kestro
