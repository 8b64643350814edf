#ifndef KESTRO_SRC_RANDOM_STRING_H_
#define KESTRO_SRC_RANDOM_STRING_H_

#include <cstddef>

namespace kestro {

// Fills `count` characters drawn uniformly from A-Z, a-z and 0-9.
bool FillRandomAlphanumeric(char *out, std::size_t count);

}  // namespace kestro

#endif  // KESTRO_SRC_RANDOM_STRING_H_
