// The stand-in KESTRO.dll of the provider fault tests (fault_provider.cc):
// it exports the six provider functions and forwards them to the real
// provider, kestro-real.dll in its own folder, unless a guarded function has
// been told to fail in one of the ways below.
#ifndef KEL_TESTS_WINDOWS_FAULT_PROVIDER_H_
#define KEL_TESTS_WINDOWS_FAULT_PROVIDER_H_

#include "kestro/kestro.h"

enum FaultBehaviour {
  kForward = 0,        // forwards to the real provider
  kMsvcThrow,          // raises 0xE06D7363 as an MSVC `throw` does
  kAccessViolation,    // writes through a null pointer
  kOtherCode,          // raises 0xE0434F4D (what the .NET runtime raises)
  kHandledInside,      // raises 0xE06D7363, handles it itself, then forwards
  kGxxThrow,           // throws a C++ exception (g++)
  kStackOverflowCode,  // raises 0xC00000FD
};

// FaultProvider_Select(function, behaviour): from now on `function` (one of
// Gen_Random_String, AES_Encryption, AES_Decryption, AES_Decryption_CH and
// ECDSA_Verify_CH; null for all five) behaves as `behaviour`. Returns 1, or 0
// when the name is unknown or the real provider cannot be loaded.
using FaultProviderSelect = int(KESTRO_CALL *)(const char *function, int behaviour);

#endif  // KEL_TESTS_WINDOWS_FAULT_PROVIDER_H_
