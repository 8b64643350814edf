// Buffers handed to the host. Each comes from malloc, is one byte longer than
// its content, and is zeroed before the content is copied in, so the content
// is always followed by a zero byte (also for binary results). The host owns
// it from then on and releases it with Kel_ReleaseBuf.
#ifndef KEL_API_HOST_BUFFER_H_
#define KEL_API_HOST_BUFFER_H_

#include <cstddef>
#include <string>

namespace kel {

// A zeroed block of `length` + 1 bytes holding a copy of `length` bytes from
// `content` (which may be null when `length` is 0). Null when memory cannot
// be had or the size would overflow.
char *NewHostBuffer(const void *content, std::size_t length);

inline char *NewHostBuffer(const std::string &text) {
  return NewHostBuffer(text.data(), text.size());
}

}  // namespace kel

#endif  // KEL_API_HOST_BUFFER_H_
