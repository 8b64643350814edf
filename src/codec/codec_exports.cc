// The codec and text-copy exports. The base64 pair neither clears nor sets
// the last-error text; the hex pair and the text copy clear it and never
// report, so after them it is empty.
#include <cstring>

#include "api/export_boundary.h"
#include "api/host_buffer.h"
#include "api/last_error.h"
#include "codec/base64.h"
#include "codec/hex.h"
#include "kel/kel.h"

namespace {

// Returned by Kel_GetCiphertext for an empty text.
constexpr int kEmptyTextResult = 0x00FFFFFE;

}  // namespace

extern "C" {

void KEL_CALL Kel_to64frombits(char *text, const unsigned char *bytes, int count) {
  kel::ExportBoundary([&] {
    if (text == nullptr) return;
    kel::Base64Encode(text, bytes, bytes != nullptr ? count : 0);
  });
}

int KEL_CALL Kel_from64tobits(unsigned char *bytes, const char *text, int limit) {
  return kel::ExportBoundary(-1, nullptr, [&] {
    if (bytes == nullptr || text == nullptr) return -1;
    return kel::Base64Decode(bytes, text, limit);
  });
}

int KEL_CALL Kel_GetCiphertext(const char *text, char **copy) {
  return kel::ExportBoundary(1, nullptr, [&] {
    kel::ClearLastError();
    if (text == nullptr || text[0] == '\0') return kEmptyTextResult;
    if (copy == nullptr) return 1;
    char *block = kel::NewHostBuffer(text, std::strlen(text));
    if (block == nullptr) return 1;
    *copy = block;
    return 0;
  });
}

int KEL_CALL Kel_BinToHex(const unsigned char *bytes, char *hex, unsigned int count) {
  return kel::ExportBoundary(1, nullptr, [&] {
    kel::ClearLastError();
    if (bytes != nullptr && hex != nullptr) kel::HexEncode(hex, bytes, count);
    return 0;
  });
}

int KEL_CALL Kel_HexToBin(unsigned char *bytes, const char *hex, unsigned int count) {
  return kel::ExportBoundary(1, nullptr, [&] {
    kel::ClearLastError();
    if (bytes != nullptr && hex != nullptr) kel::HexDecode(bytes, hex, count);
    return 0;
  });
}

}  // extern "C"
