#include "seal/verdict.h"

#include "seal/decimal.h"

namespace kel {
namespace {

constexpr std::size_t kShortestVerdict = 4;
constexpr std::size_t kStatusStart = 2;
constexpr std::size_t kLastStatusComma = 10;  // a status of at most 8 bytes

}  // namespace

bool ParseVerdict(std::string_view result, Verdict *verdict) {
  if (result.size() < kShortestVerdict || result[1] != ',') return false;
  std::size_t comma = result.find(',', kStatusStart);
  if (comma == std::string_view::npos || comma > kLastStatusComma) return false;
  verdict->status =
      static_cast<int>(ReadDecimal(result.data() + kStatusStart, result.data() + comma));
  verdict->description.assign(result.substr(comma + 1));
  return true;
}

}  // namespace kel
