// Buffers that the provider hands out: malloc'd, followed by one zero byte,
// released by Ecc_Free.
#ifndef KESTRO_SRC_PROVIDER_BUFFER_H_
#define KESTRO_SRC_PROVIDER_BUFFER_H_

#include <cstddef>
#include <string>

#include "bytes.h"

namespace kestro {

// Null when memory cannot be had.
unsigned char *NewProviderBuffer(const unsigned char *content, std::size_t length);

inline unsigned char *NewProviderBuffer(const Bytes &bytes) {
  return NewProviderBuffer(bytes.data(), bytes.size());
}

inline char *NewProviderText(const std::string &text) {
  return reinterpret_cast<char *>(
      NewProviderBuffer(reinterpret_cast<const unsigned char *>(text.data()), text.size()));
}

}  // namespace kestro

#endif  // KESTRO_SRC_PROVIDER_BUFFER_H_
