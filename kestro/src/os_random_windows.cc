// Random bytes from the system's preferred CSPRNG.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include <climits>

#include "backend.h"

namespace kestro {
namespace backend {

bool RandomBytes(unsigned char *out, std::size_t count) {
  while (count > 0) {
    ULONG chunk = count > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(count);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    out += chunk;
    count -= chunk;
  }
  return true;
}

}  // namespace backend
}  // namespace kestro
