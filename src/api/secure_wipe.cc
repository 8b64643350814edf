#include "api/secure_wipe.h"

namespace kel {

// Growing within the capacity never reallocates; then every byte up to the
// capacity is overwritten explicitly, spare bytes left from earlier
// contents included.
void SecretText::Wipe() noexcept {
  resize(capacity());
  WipeBytes(&(*this)[0], size());
  clear();
}

}  // namespace kel
