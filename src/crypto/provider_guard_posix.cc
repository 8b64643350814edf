// The guard on POSIX systems: a provider reports failures as C++ exceptions.
#include "crypto/provider_guard.h"

namespace kel {
namespace crypto {

bool CallGuarded(void (*call)(void *), void *context) noexcept {
  try {
    call(context);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace crypto
}  // namespace kel
