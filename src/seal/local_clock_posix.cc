#include "seal/local_clock.h"

namespace kel {

bool LocalTime(std::time_t when, std::tm *local) { return localtime_r(&when, local) != nullptr; }

}  // namespace kel
