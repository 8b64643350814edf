// The machine's local time, to the second.
#ifndef KEL_SEAL_LOCAL_CLOCK_H_
#define KEL_SEAL_LOCAL_CLOCK_H_

#include <ctime>
#include <string>

namespace kel {

// "YYYY-MM-DD hh:mm:ss" (19 bytes, 24-hour clock). Thread-safe.
std::string LocalTimeText();

// The platform's thread-safe conversion of `when` to local time.
bool LocalTime(std::time_t when, std::tm *local);

}  // namespace kel

#endif  // KEL_SEAL_LOCAL_CLOCK_H_
