// Overwriting secrets before their memory goes back to the heap: response
// keys, the request text that carries them, decrypted plaintexts and the
// texts derived from them. secure_wipe_posix.cc and secure_wipe_windows.cc
// hold the platform call.
//
// Secrets live in SecretText, which wipes by construction: every block it
// gives back (when it grows, shrinks or ends) is cleared first by its
// allocator, and its destructor clears the bytes it keeps inside the object
// itself (a short text is stored there, not on the heap). No path through
// the code can forget a wipe.
#ifndef KEL_API_SECURE_WIPE_H_
#define KEL_API_SECURE_WIPE_H_

#include <cstddef>
#include <memory>
#include <string>

namespace kel {

// Overwrites `size` bytes at `data` with zeros; the compiler may not drop it
// as a dead store.
void WipeBytes(void *data, std::size_t size) noexcept;

// An allocator that clears every block before it goes back to the heap.
template <typename T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U> &) noexcept {}

  T *allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T *block, std::size_t count) noexcept {
    WipeBytes(block, count * sizeof(T));
    std::allocator<T>().deallocate(block, count);
  }

  friend bool operator==(const WipingAllocator &, const WipingAllocator &) { return true; }
  friend bool operator!=(const WipingAllocator &, const WipingAllocator &) { return false; }
};

using WipedString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// A text that holds a secret. It is a string in every other respect.
class SecretText : public WipedString {
 public:
  using WipedString::WipedString;
  SecretText() noexcept = default;
  SecretText(const SecretText &) = default;
  SecretText(SecretText &&) noexcept = default;
  SecretText &operator=(const SecretText &) = default;
  SecretText &operator=(SecretText &&) noexcept = default;
  // A moved-from short text keeps its bytes inside the object; they are
  // cleared here, as are those of a short text itself.
  ~SecretText() { Wipe(); }

  // Clears every byte the text holds, its spare capacity included, and
  // empties it; the block stays allocated.
  void Wipe() noexcept;
};

}  // namespace kel

#endif  // KEL_API_SECURE_WIPE_H_
