// Wiping on POSIX systems.
#include <string.h>

#include "api/secure_wipe.h"

namespace kel {

void WipeBytes(void *data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) explicit_bzero(data, size);
}

}  // namespace kel
