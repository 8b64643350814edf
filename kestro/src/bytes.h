#ifndef KESTRO_SRC_BYTES_H_
#define KESTRO_SRC_BYTES_H_

#include <vector>

namespace kestro {

using Bytes = std::vector<unsigned char>;

}  // namespace kestro

#endif  // KESTRO_SRC_BYTES_H_
