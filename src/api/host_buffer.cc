#include "api/host_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace kel {

char *NewHostBuffer(const void *content, std::size_t length) {
  if (length == std::numeric_limits<std::size_t>::max()) return nullptr;
  // calloc zeroes the whole block, which gives the terminating zero too.
  char *block = static_cast<char *>(std::calloc(length + 1, 1));
  if (block != nullptr && length != 0) std::memcpy(block, content, length);
  return block;
}

}  // namespace kel
