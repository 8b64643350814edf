#include "crypto/provider.h"

#include <atomic>

namespace kel {
namespace crypto {
namespace {

constexpr Provider kLinkedProvider = {
    Gen_Random_String, AES_Encryption, AES_Decryption, AES_Decryption_CH, ECDSA_Verify_CH, Ecc_Free,
};

std::atomic<const Provider *> g_replacement{nullptr};

}  // namespace

const Provider &ActiveProvider() {
  const Provider *replacement = g_replacement.load(std::memory_order_acquire);
  return replacement != nullptr ? *replacement : kLinkedProvider;
}

void SetProviderForTesting(const Provider *provider) {
  g_replacement.store(provider, std::memory_order_release);
}

void ReleaseProviderBuffer(const Provider &provider, void *buffer) {
  // Ecc_Free takes the address of the variable that holds the buffer.
  provider.ecc_free(&buffer);
}

}  // namespace crypto
}  // namespace kel
