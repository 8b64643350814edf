// Overwriting secrets before their memory goes back to the heap: response
// keys, the request text that carries them, and decrypted plaintexts.
// secure_wipe_posix.cc and secure_wipe_windows.cc hold the platform call.
#ifndef KEL_API_SECURE_WIPE_H_
#define KEL_API_SECURE_WIPE_H_

#include <cstddef>
#include <string>

namespace kel {

// Overwrites `size` bytes at `data` with zeros; the compiler may not drop it
// as a dead store.
void WipeBytes(void *data, std::size_t size) noexcept;

// Zeroes the whole block of `text`, its spare capacity included (left over
// from earlier, longer contents), and empties it. The block stays allocated.
void WipeText(std::string *text) noexcept;

// Wipes a text when the scope that holds it ends, on every way out.
class ScopedWipe {
 public:
  explicit ScopedWipe(std::string *text) : text_(text) {}
  ~ScopedWipe() { WipeText(text_); }
  ScopedWipe(const ScopedWipe &) = delete;
  ScopedWipe &operator=(const ScopedWipe &) = delete;

 private:
  std::string *text_;
};

}  // namespace kel

#endif  // KEL_API_SECURE_WIPE_H_
