#include "curves.h"

namespace kestro {
namespace {

struct CurveInfo {
  Curve curve;
  const char *name;
  std::size_t coordinate_size;
};

constexpr CurveInfo kCurves[] = {
    {Curve::kSecp256r1, "secp256r1", 32},
    {Curve::kSecp384r1, "secp384r1", 48},
    {Curve::kSecp521r1, "secp521r1", 66},
};

struct HashInfo {
  Hash hash;
  const char *name;
};

constexpr HashInfo kHashes[] = {
    {Hash::kSha256, "sha256"},
    {Hash::kSha384, "sha384"},
    {Hash::kSha512, "sha512"},
};

const CurveInfo &InfoOf(Curve curve) {
  for (const CurveInfo &info : kCurves) {
    if (info.curve == curve) return info;
  }
  return kCurves[0];  // not reached: every enumerator is listed
}

}  // namespace

std::size_t CoordinateSize(Curve curve) { return InfoOf(curve).coordinate_size; }

const char *CurveName(Curve curve) { return InfoOf(curve).name; }

const char *HashName(Hash hash) {
  for (const HashInfo &info : kHashes) {
    if (info.hash == hash) return info.name;
  }
  return kHashes[0].name;
}

bool CurveFromName(const std::string &name, Curve *curve) {
  for (const CurveInfo &info : kCurves) {
    if (name == info.name) {
      *curve = info.curve;
      return true;
    }
  }
  return false;
}

bool HashFromName(const std::string &name, Hash *hash) {
  for (const HashInfo &info : kHashes) {
    if (name == info.name) {
      *hash = info.hash;
      return true;
    }
  }
  return false;
}

}  // namespace kestro
