// The verdict parser of Kel_VerifySeal on arbitrary result texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "seal/verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string result(reinterpret_cast<const char *>(data), size);
  kel::Verdict verdict;
  if (kel::ParseVerdict(result, &verdict) && verdict.description.size() + 3 > result.size()) {
    std::abort();  // the description is a tail of the text behind "x,S,"
  }
  return 0;
}
