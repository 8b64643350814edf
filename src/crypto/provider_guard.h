// The one place where a call into the provider is made safe: whatever the
// provider raises during the call ends there, and the caller learns only
// that it raised.
//
// POSIX: a C++ try/catch. Windows: the call runs inside try/catch(...),
// which sees g++ exceptions first, inside a frame-based structured-exception
// handler that takes any other exception leaving the provider (an MSVC
// `throw` arrives as 0xE06D7363, a fault as 0xC0000005). Exceptions that the
// provider raises and handles itself never reach it. A stack overflow is let
// through.
//
// A structured exception abandons the frames between the raise and the
// guard without running their destructors, so a guarded call must own
// nothing that needs releasing: it stores the provider's results in
// variables of the caller, which frees them.
#ifndef KEL_CRYPTO_PROVIDER_GUARD_H_
#define KEL_CRYPTO_PROVIDER_GUARD_H_

namespace kel {
namespace crypto {

// Runs call(context). False when the call raised; the process goes on.
bool CallGuarded(void (*call)(void *), void *context) noexcept;

}  // namespace crypto
}  // namespace kel

#endif  // KEL_CRYPTO_PROVIDER_GUARD_H_
