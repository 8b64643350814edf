#include "seal/local_clock.h"

namespace kel {

bool LocalTime(std::time_t when, std::tm *local) { return localtime_s(local, &when) == 0; }

}  // namespace kel
