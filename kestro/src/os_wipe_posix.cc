// Wiping on POSIX systems: explicit_bzero, and glibc's own count of a
// block's usable size.
#include <malloc.h>
#include <string.h>

#include <cstdlib>

#include "wipe.h"

namespace kestro {

void Wipe(void *data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) explicit_bzero(data, size);
}

void WipeAndFree(void *block) noexcept {
  if (block == nullptr) return;
  Wipe(block, malloc_usable_size(block));
  std::free(block);
}

}  // namespace kestro
