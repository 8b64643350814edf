// Kel_from64tobits on arbitrary texts and limits, into a buffer exactly as
// large as the limit allows (so that a write past it is caught), on the
// scalar path and on the AVX2 kernels, which must agree byte for byte. Also
// the encoder on the same bytes, decoded back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/simd_dispatch.h"
#include "kel/kel.h"

namespace {

struct Result {
  int count;
  std::vector<unsigned char> bytes;
};

Result Decode(bool wide, const std::string &text, int limit, std::size_t room) {
  kel::EnableAvx2CodecsForTesting(wide);
  Result result{0, std::vector<unsigned char>(room, 0xEE)};
  // A separate block of exactly `room` bytes, so that AddressSanitizer sees
  // any write beyond it.
  auto *out = static_cast<unsigned char *>(std::malloc(room == 0 ? 1 : room));
  std::memset(out, 0xEE, room);
  result.count = Kel_from64tobits(out, text.c_str(), limit);
  std::memcpy(result.bytes.data(), out, room);
  std::free(out);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the limit: 0 (none), small positive ones, negative.
  int limit = static_cast<std::int8_t>(data[0]);
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  std::size_t needed = text.size() / 4 * 3 + 3;
  std::size_t room = limit > 0 ? static_cast<std::size_t>(limit) : needed;

  Result scalar = Decode(false, text, limit, room);
  Result wide = Decode(true, text, limit, room);
  if (scalar.count != wide.count || scalar.bytes != wide.bytes) std::abort();
  if (scalar.count > 0 && limit > 0 && scalar.count > limit) std::abort();

  // Encoding the raw bytes and decoding them again gives them back.
  const int count = static_cast<int>(size);
  std::string encoded(4 * ((size + 2) / 3) + 1, '\0');
  Kel_to64frombits(encoded.data(), data, count);
  std::vector<unsigned char> back(size + 3);
  int decoded = Kel_from64tobits(back.data(), encoded.c_str(), 0);
  if (decoded != count || std::memcmp(back.data(), data, size) != 0) std::abort();
  kel::EnableAvx2CodecsForTesting(true);
  return 0;
}
