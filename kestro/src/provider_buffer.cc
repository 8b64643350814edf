#include "provider_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace kestro {

unsigned char *NewProviderBuffer(const unsigned char *content, std::size_t length) {
  if (length == std::numeric_limits<std::size_t>::max()) return nullptr;
  auto *block = static_cast<unsigned char *>(std::malloc(length + 1));
  if (block == nullptr) return nullptr;
  if (length != 0) std::memcpy(block, content, length);
  block[length] = 0;
  return block;
}

}  // namespace kestro
