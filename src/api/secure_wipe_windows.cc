// Wiping on Windows.
#include <windows.h>

#include "api/secure_wipe.h"

namespace kel {

void WipeBytes(void *data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

}  // namespace kel
