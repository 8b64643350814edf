// ECDSA signatures in DER: SEQUENCE { INTEGER r, INTEGER s }.
#ifndef KESTRO_SRC_SIGNATURE_DER_H_
#define KESTRO_SRC_SIGNATURE_DER_H_

#include <cstddef>

#include "bytes.h"

namespace kestro {

// Reads a DER signature into r and s as big-endian numbers of `size` bytes
// each, concatenated. Only the distinguished encoding is accepted (minimal
// lengths and integers, no trailing bytes); r and s must be positive and
// fit in `size` bytes.
bool DecodeSignatureDer(const Bytes &der, std::size_t size, Bytes *rs);

// The DER form of r and s given as two big-endian halves of `rs`.
Bytes EncodeSignatureDer(const Bytes &rs);

}  // namespace kestro

#endif  // KESTRO_SRC_SIGNATURE_DER_H_
