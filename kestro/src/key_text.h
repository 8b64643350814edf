// Public-key texts: "ecdsa-<curve>-<hash>+<hex of the uncompressed point>".
#ifndef KESTRO_SRC_KEY_TEXT_H_
#define KESTRO_SRC_KEY_TEXT_H_

#include <string>

#include "bytes.h"
#include "curves.h"

namespace kestro {

struct PublicKey {
  Curve curve;
  Hash hash;
  Bytes point;  // 04, X, Y
};

// The part before '+': "ecdsa-<curve>-<hash>".
bool ParseAlgorithm(const std::string &algorithm, Curve *curve, Hash *hash);

// Accepts exactly the form above, with a point of the curve's size that
// starts with 04. Whether the point lies on the curve is the backend's check.
bool ParsePublicKeyText(const char *text, PublicKey *key);

std::string FormatPublicKeyText(const PublicKey &key);

}  // namespace kestro

#endif  // KESTRO_SRC_KEY_TEXT_H_
