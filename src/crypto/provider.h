// The binding to the crypto provider: its six functions, reached through one
// table so that tests can put a fake provider in place of the real one, and
// the guarded calls that the rest of the library makes through it.
//
// Guarded means: a failure that the provider raises is caught at the call
// and comes back as Outcome::kRaised (or false); the caller chooses the
// message. Buffers that the provider returns are copied and released at once.
#ifndef KEL_CRYPTO_PROVIDER_H_
#define KEL_CRYPTO_PROVIDER_H_

#include <cstddef>
#include <string>

#include "api/secure_wipe.h"
#include "crypto/provider_guard.h"
#include "kestro/kestro.h"

namespace kel {
namespace crypto {

struct Provider {
  int(KESTRO_CALL *gen_random_string)(char *buffer, int count);
  unsigned char *(KESTRO_CALL *aes_encryption)(const unsigned char *data, int dataLength,
                                               const unsigned char *key, int keyLength,
                                               int *resultLength, int mode);
  unsigned char *(KESTRO_CALL *aes_decryption)(const unsigned char *data, int dataLength,
                                               const unsigned char *key, int keyLength,
                                               int *resultLength);
  char *(KESTRO_CALL *aes_decryption_ch)(const char *key, const char *cipherText);
  unsigned char(KESTRO_CALL *ecdsa_verify_ch)(const char *publicKey, const unsigned char *data,
                                              int dataLength, const char *signature);
  int(KESTRO_CALL *ecc_free)(void **buffer);
};

// The provider in use: the linked library unless a test replaced it.
const Provider &ActiveProvider();

// Puts `provider` in place of the linked library; null restores it. The
// table must outlive its use. For tests only.
void SetProviderForTesting(const Provider *provider);

// Hands a buffer back to the provider that returned it, through Ecc_Free
// (not guarded: releasing is not expected to fail).
void ReleaseProviderBuffer(const Provider &provider, void *buffer);

// Runs `call` under the provider guard; false when it raised (see
// provider_guard.h).
template <typename Call>
bool RunGuarded(Call call) noexcept {
  return CallGuarded([](void *context) { (*static_cast<Call *>(context))(); }, &call);
}

enum class Outcome {
  kOk,        // decrypted; for a signature: valid
  kNoResult,  // no plaintext came back; for a signature: not valid
  kRaised,    // the provider raised a failure
  kValid = kOk,
  kInvalid = kNoResult,
};

// Draws a fresh 16-character key with Gen_Random_String into a zeroed
// 17-byte buffer. False when the provider raised or wrote fewer than 16
// characters; *key is then empty.
bool DrawResponseKey(SecretText *key);

// AES_Decryption_CH. On kOk *plaintext holds the plaintext up to its first
// zero byte; otherwise it is left alone.
Outcome DecryptText(const char *key, const char *cipherText, SecretText *plaintext);

// ECDSA_Verify_CH: kValid when the low byte of the result is non-zero,
// kInvalid when it is zero, and also for data longer than the provider's int
// length can express.
Outcome VerifySignature(const char *publicKey, const void *data, std::size_t length,
                        const char *signature);

}  // namespace crypto
}  // namespace kel

#endif  // KEL_CRYPTO_PROVIDER_H_
