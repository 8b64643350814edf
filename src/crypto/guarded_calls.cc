// The guarded calls into the provider.
#include <climits>
#include <cstring>

#include "api/secure_wipe.h"
#include "crypto/provider.h"

namespace kel {
namespace crypto {

bool DrawResponseKey(SecretText *key) {
  key->clear();
  char buffer[17] = {};
  const Provider &provider = ActiveProvider();
  bool drawn = RunGuarded([&] { provider.gen_random_string(buffer, 16); });
  buffer[16] = '\0';  // whatever the provider did, the text ends here
  drawn = drawn && std::strlen(buffer) == 16;
  if (drawn) key->assign(buffer, 16);
  WipeBytes(buffer, sizeof buffer);  // the key lives on in *key only
  return drawn;
}

Outcome DecryptText(const char *key, const char *cipherText, SecretText *plaintext) {
  const Provider &provider = ActiveProvider();
  char *result = nullptr;
  if (!RunGuarded([&] { result = provider.aes_decryption_ch(key, cipherText); }))
    return Outcome::kRaised;
  if (result == nullptr) return Outcome::kNoResult;
  // The copy may fail for want of memory; the provider's block goes back
  // either way.
  try {
    plaintext->assign(result);
  } catch (...) {
    ReleaseProviderBuffer(provider, result);
    throw;
  }
  ReleaseProviderBuffer(provider, result);
  return Outcome::kOk;
}

Outcome VerifySignature(const char *publicKey, const void *data, std::size_t length,
                        const char *signature) {
  if (length > static_cast<std::size_t>(INT_MAX)) return Outcome::kInvalid;
  const Provider &provider = ActiveProvider();
  unsigned char verdict = 0;
  if (!RunGuarded([&] {
        verdict = provider.ecdsa_verify_ch(publicKey, static_cast<const unsigned char *>(data),
                                           static_cast<int>(length), signature);
      }))
    return Outcome::kRaised;
  return verdict != 0 ? Outcome::kValid : Outcome::kInvalid;
}

}  // namespace crypto
}  // namespace kel
