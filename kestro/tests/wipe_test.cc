// Secrets do not outlive their use: every block the provider releases
// through operator delete is looked at as it goes, and none may still hold
// the key or the plaintext of a decryption.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kestro/kestro.h"
#include "provider_fixtures.h"

namespace {

constexpr char kKeyMarker[] = "KEY#marker#16byt";  // an AES-128 key
constexpr char kPlainMarker[] = "PLAINTEXT#marker#that#must#not#linger";

std::atomic<bool> g_watching{false};
std::atomic<int> g_released_with_marker{0};

bool Holds(const void *block, std::size_t size, const char *marker) {
  const char *begin = static_cast<const char *>(block);
  const std::size_t length = std::strlen(marker);
  return std::search(begin, begin + size, marker, marker + length) != begin + size;
}

void Inspect(void *block) {
  if (block == nullptr || !g_watching.load()) return;
  std::size_t size = malloc_usable_size(block);
  if (Holds(block, size, kKeyMarker) || Holds(block, size, kPlainMarker)) ++g_released_with_marker;
}

}  // namespace

// malloc-based, so that the block's usable size can be read at release.
void *operator new(std::size_t size) {
  if (void *block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void *block) noexcept {
  Inspect(block);
  std::free(block);
}
void operator delete(void *block, std::size_t) noexcept { operator delete(block); }

namespace kestro {
namespace {

TEST(Wiping, NoReleasedBlockHoldsTheKeyOrThePlaintext) {
  const std::string plain = kPlainMarker;
  int cipher_length = 0;
  ProviderBytes cipher(AES_Encryption(
      reinterpret_cast<const unsigned char *>(plain.data()), static_cast<int>(plain.size()),
      reinterpret_cast<const unsigned char *>(kKeyMarker), 16, &cipher_length, 2));
  ASSERT_TRUE(cipher);

  g_released_with_marker = 0;
  g_watching = true;
  int plain_length = 0;
  ProviderBytes decrypted(AES_Decryption(cipher.get(), cipher_length,
                                         reinterpret_cast<const unsigned char *>(kKeyMarker), 16,
                                         &plain_length));
  g_watching = false;
  ASSERT_TRUE(decrypted);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(decrypted.get()), plain_length), plain);
  EXPECT_EQ(g_released_with_marker.load(), 0);
}

}  // namespace
}  // namespace kestro
