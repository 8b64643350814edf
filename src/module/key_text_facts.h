// What the trace says about a public key text without showing it: a short
// fingerprint and the text's form. A deployment compares fingerprints to
// tell which key the library checks signatures against.
#ifndef KEL_MODULE_KEY_TEXT_FACTS_H_
#define KEL_MODULE_KEY_TEXT_FACTS_H_

#include <string>

namespace kel {

// The first 16 hexadecimal digits of the SHA-256 of the text (up to its
// first zero byte); "none" for a null text.
std::string KeyFingerprint(const char *text);

// The algorithm name of a text that has the form of a public key text,
// "<algorithm>+<hex of an uncompressed point>" with the algorithm
// "ecdsa-<curve>-<hash>" (e.g. "ecdsa-secp521r1-sha512"); "empty" for an
// empty text, "none" for a null one and "unrecognised" for any other. Only
// the form is checked: whether the provider knows the curve and the point
// lies on it shows when a signature is checked against the key.
std::string KeyTextForm(const char *text);

}  // namespace kel

#endif  // KEL_MODULE_KEY_TEXT_FACTS_H_
