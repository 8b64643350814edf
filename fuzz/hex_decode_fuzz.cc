// Kel_HexToBin on arbitrary texts into a buffer of exactly count / 2 bytes,
// on both paths (which must agree), each pair checked against strtol; and
// Kel_BinToHex of the same bytes converted back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/simd_dispatch.h"
#include "kel/kel.h"

namespace {

std::vector<unsigned char> Decode(bool wide, const std::uint8_t *hex, std::size_t size) {
  kel::EnableAvx2CodecsForTesting(wide);
  std::size_t pairs = size / 2;
  auto *out = static_cast<unsigned char *>(std::malloc(pairs == 0 ? 1 : pairs));
  Kel_HexToBin(out, reinterpret_cast<const char *>(hex), static_cast<unsigned>(size));
  std::vector<unsigned char> bytes(out, out + pairs);
  std::free(out);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<unsigned char> scalar = Decode(false, data, size);
  if (Decode(true, data, size) != scalar) std::abort();
  for (std::size_t i = 0; i < scalar.size(); ++i) {
    const char pair[3] = {static_cast<char>(data[2 * i]), static_cast<char>(data[2 * i + 1]), 0};
    if (static_cast<unsigned char>(std::strtol(pair, nullptr, 16) & 0xFF) != scalar[i]) {
      std::abort();
    }
  }

  std::vector<char> hex(2 * size + 1);
  Kel_BinToHex(data, hex.data(), static_cast<unsigned>(size));
  std::vector<unsigned char> back(size);
  Kel_HexToBin(back.data(), hex.data(), static_cast<unsigned>(2 * size));
  if (size != 0 && std::memcmp(back.data(), data, size) != 0) std::abort();
  kel::EnableAvx2CodecsForTesting(true);
  return 0;
}
