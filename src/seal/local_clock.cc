#include "seal/local_clock.h"

namespace kel {

std::string LocalTimeText() {
  std::tm local{};
  if (!LocalTime(std::time(nullptr), &local)) return std::string();
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
}

}  // namespace kel
