// Random bytes from the kernel's CSPRNG.
#include <sys/random.h>

#include <cerrno>

#include "backend.h"

namespace kestro {
namespace backend {

bool RandomBytes(unsigned char *out, std::size_t count) {
  while (count > 0) {
    ssize_t got = getrandom(out, count, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace backend
}  // namespace kestro
