#ifndef KESTRO_SRC_BYTES_H_
#define KESTRO_SRC_BYTES_H_

#include <vector>

#include "wipe.h"

namespace kestro {

// Every byte buffer of the provider: keys, plaintexts, ciphertexts, digests.
// Its blocks are wiped when released, so no secret outlives its use.
using Bytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace kestro

#endif  // KESTRO_SRC_BYTES_H_
