// The curves and hashes that key texts may name.
#ifndef KESTRO_SRC_CURVES_H_
#define KESTRO_SRC_CURVES_H_

#include <cstddef>
#include <string>

namespace kestro {

enum class Curve { kSecp256r1, kSecp384r1, kSecp521r1 };
enum class Hash { kSha256, kSha384, kSha512 };

// Bytes of one coordinate (and of r and s in a signature).
std::size_t CoordinateSize(Curve curve);

// Names as they appear in key texts; false for any other name.
bool CurveFromName(const std::string &name, Curve *curve);
bool HashFromName(const std::string &name, Hash *hash);
const char *CurveName(Curve curve);
const char *HashName(Hash hash);

}  // namespace kestro

#endif  // KESTRO_SRC_CURVES_H_
