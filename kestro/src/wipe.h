// Secrets do not linger: keys, plaintexts and everything else the provider
// holds in byte buffers are overwritten before their memory is released.
// os_wipe_posix.cc and os_wipe_windows.cc implement the two platform calls.
#ifndef KESTRO_SRC_WIPE_H_
#define KESTRO_SRC_WIPE_H_

#include <cstddef>
#include <memory>

namespace kestro {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not
// drop as a dead store.
void Wipe(void *data, std::size_t size) noexcept;

// Overwrites the whole usable block that malloc returned, then frees it.
// Null does nothing.
void WipeAndFree(void *block) noexcept;

// An allocator that wipes every block it releases, reallocations included.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U> &) noexcept {}  // NOLINT: implicit by design
  T *allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T *block, std::size_t count) noexcept {
    Wipe(block, count * sizeof(T));
    std::allocator<T>().deallocate(block, count);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U> &) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const WipingAllocator<U> &) const noexcept {
    return false;
  }
};

}  // namespace kestro

#endif  // KESTRO_SRC_WIPE_H_
