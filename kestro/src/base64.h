// Standard base64 (RFC 4648, section 4) with padding.
#ifndef KESTRO_SRC_BASE64_H_
#define KESTRO_SRC_BASE64_H_

#include <cstddef>
#include <string>

#include "bytes.h"

namespace kestro {

// One line, no line breaks.
std::string Base64Encode(const unsigned char *data, std::size_t length);

// Strict decoding: ASCII white space is skipped, everything else must be
// alphabet characters in groups of four, padded with '=' only at the end, and
// unused bits of the last group must be zero. False for anything else.
bool Base64Decode(const char *text, Bytes *out);

}  // namespace kestro

#endif  // KESTRO_SRC_BASE64_H_
