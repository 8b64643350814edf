// Wiping on Windows: SecureZeroMemory, and the C runtime's own count of a
// block's usable size.
#include <windows.h>
// After windows.h: _msize.
#include <malloc.h>

#include <cstdlib>

#include "wipe.h"

namespace kestro {

void Wipe(void *data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

void WipeAndFree(void *block) noexcept {
  if (block == nullptr) return;
  Wipe(block, _msize(block));
  std::free(block);
}

}  // namespace kestro
