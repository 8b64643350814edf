// The guard on Windows: a C++ try/catch inside a structured-exception frame.
#include "crypto/provider_guard.h"
#include "crypto/seh_frame.h"

namespace kel {
namespace crypto {
namespace {

struct GuardedCall {
  void (*call)(void *);
  void *context;
  bool threw;
};

// Runs the call inside the structured-exception frame. The try/catch is the
// inner of the two, so g++'s own unwinder sees the exceptions of a g++-built
// provider first; everything else passes through it to the frame.
void Trampoline(void *argument) {
  auto *guarded = static_cast<GuardedCall *>(argument);
  try {
    guarded->call(guarded->context);
  } catch (...) {
    guarded->threw = true;
  }
}

}  // namespace

bool CallGuarded(void (*call)(void *), void *context) noexcept {
  GuardedCall guarded{call, context, false};
  return kel_seh_call(Trampoline, &guarded) == 1 && !guarded.threw;
}

}  // namespace crypto
}  // namespace kel
