// A stand-in KESTRO.dll that fails on request, for the provider fault tests
// (see fault_provider.h). Each failure happens before the call is forwarded,
// so the real provider holds nothing of a call that failed.
#include "fault_provider.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "crypto/seh_frame.h"

namespace {

const char *const kFunctionNames[] = {"Gen_Random_String", "AES_Encryption", "AES_Decryption",
                                      "AES_Decryption_CH", "ECDSA_Verify_CH"};
enum Function { kGenRandomString, kAesEncryption, kAesDecryption, kAesDecryptionCh, kVerifyCh };
constexpr int kFunctionCount = 5;

volatile int g_behaviour[kFunctionCount] = {};

struct RealProvider {
  decltype(&Gen_Random_String) gen_random_string;
  decltype(&AES_Encryption) aes_encryption;
  decltype(&AES_Decryption) aes_decryption;
  decltype(&AES_Decryption_CH) aes_decryption_ch;
  decltype(&ECDSA_Verify_CH) ecdsa_verify_ch;
  decltype(&Ecc_Free) ecc_free;
};

template <typename Function>
bool Resolve(HMODULE module, const char *name, Function *function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  return *function != nullptr;
}

// kestro-real.dll from this DLL's folder, loaded on first use; null when it
// or one of its functions is missing.
const RealProvider *Real() {
  static const RealProvider *const real = []() -> const RealProvider * {
    static RealProvider functions;
    HMODULE self = nullptr;
    char path[MAX_PATH] = {};
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&Real), &self) ||
        GetModuleFileNameA(self, path, MAX_PATH) == 0)
      return nullptr;
    std::string file(path);
    HMODULE module = LoadLibraryA((file.substr(0, file.rfind('\\')) + "\\kestro-real.dll").c_str());
    if (module == nullptr) return nullptr;
    bool all = Resolve(module, "Gen_Random_String", &functions.gen_random_string) &&
               Resolve(module, "AES_Encryption", &functions.aes_encryption) &&
               Resolve(module, "AES_Decryption", &functions.aes_decryption) &&
               Resolve(module, "AES_Decryption_CH", &functions.aes_decryption_ch) &&
               Resolve(module, "ECDSA_Verify_CH", &functions.ecdsa_verify_ch) &&
               Resolve(module, "Ecc_Free", &functions.ecc_free);
    return all ? &functions : nullptr;
  }();
  return real;
}

// What MSVC's _CxxThrowException raises: the magic number, the thrown object
// and its throw information (and on 64-bit Windows the image base that the
// information's offsets are relative to). Nothing here reads the last two.
void RaiseMsvcThrow() {
  static int thrown_object = 42;
  static const struct {
    unsigned attributes;
    int destructor, forward_compat, catchable_types;
  } throw_info = {};
  const ULONG_PTR parameters[] = {0x19930520, reinterpret_cast<ULONG_PTR>(&thrown_object),
                                  reinterpret_cast<ULONG_PTR>(&throw_info),
                                  reinterpret_cast<ULONG_PTR>(GetModuleHandleA(nullptr))};
  RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, sizeof(void *) == 8 ? 4 : 3, parameters);
}

// Fails as `function` was told to; returns when the call is to be forwarded.
void Misbehave(Function function) {
  switch (g_behaviour[function]) {
    case kMsvcThrow:
      RaiseMsvcThrow();
      break;
    case kAccessViolation: {
      volatile int *volatile nowhere = nullptr;
      *nowhere = 1;
      break;
    }
    case kOtherCode:
      RaiseException(0xE0434F4D, EXCEPTION_NONCONTINUABLE, 0, nullptr);
      break;
    case kHandledInside:
      // A provider that raises and handles the exception itself must not be
      // taken for one that failed: this one goes on to forward the call.
      kel_seh_call([](void *) { RaiseMsvcThrow(); }, nullptr);
      break;
    case kGxxThrow:
      throw std::runtime_error("provider failure");
    case kStackOverflowCode:
      RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" {

KESTRO_API int KESTRO_CALL Gen_Random_String(char *buffer, int count) {
  Misbehave(kGenRandomString);
  return Real() != nullptr ? Real()->gen_random_string(buffer, count) : -1;
}

KESTRO_API unsigned char *KESTRO_CALL AES_Encryption(const unsigned char *data, int dataLength,
                                                     const unsigned char *key, int keyLength,
                                                     int *resultLength, int mode) {
  Misbehave(kAesEncryption);
  return Real() != nullptr
             ? Real()->aes_encryption(data, dataLength, key, keyLength, resultLength, mode)
             : nullptr;
}

KESTRO_API unsigned char *KESTRO_CALL AES_Decryption(const unsigned char *data, int dataLength,
                                                     const unsigned char *key, int keyLength,
                                                     int *resultLength) {
  Misbehave(kAesDecryption);
  return Real() != nullptr ? Real()->aes_decryption(data, dataLength, key, keyLength, resultLength)
                           : nullptr;
}

KESTRO_API char *KESTRO_CALL AES_Decryption_CH(const char *key, const char *cipherText) {
  Misbehave(kAesDecryptionCh);
  return Real() != nullptr ? Real()->aes_decryption_ch(key, cipherText) : nullptr;
}

KESTRO_API unsigned char KESTRO_CALL ECDSA_Verify_CH(const char *publicKey,
                                                     const unsigned char *data, int dataLength,
                                                     const char *signature) {
  Misbehave(kVerifyCh);
  return Real() != nullptr ? Real()->ecdsa_verify_ch(publicKey, data, dataLength, signature) : 0;
}

KESTRO_API int KESTRO_CALL Ecc_Free(void **buffer) {
  return Real() != nullptr ? Real()->ecc_free(buffer) : 0;
}

KESTRO_API int KESTRO_CALL FaultProvider_Select(const char *function, int behaviour) {
  if (Real() == nullptr) return 0;
  bool known = false;
  for (int i = 0; i < kFunctionCount; ++i) {
    if (function == nullptr || std::strcmp(function, kFunctionNames[i]) == 0) {
      g_behaviour[i] = behaviour;
      known = true;
    }
  }
  return known ? 1 : 0;
}

}  // extern "C"
