// The findings of `kel doctor`: each check of a deployment with what it
// found and, when it does not hold, a one-line fix. They are read off the
// library's own trace (the start line and the exchange line of one server
// transaction) and off what the exports answered; nothing here repeats the
// library's logic.
#ifndef KEL_TOOLS_KEL_DOCTOR_FINDINGS_H_
#define KEL_TOOLS_KEL_DOCTOR_FINDINGS_H_

#include <string>
#include <vector>

#include "trace_reader.h"

namespace kel::cli {

enum class FindingStatus { kOk, kWarn, kFail };

// "ok", "warn" or "fail".
const char *StatusToken(FindingStatus status);

// Texts in UTF-8.
struct Finding {
  std::string check;  // "key-file", "connect", ...
  FindingStatus status;
  std::string detail;
  std::string fix;  // empty when the check holds
};

// What the doctor knows besides the trace, in UTF-8.
struct Surroundings {
  std::string library_version;
  std::string library_path;  // the library file this run loaded; empty when unknown
  std::string current_folder;
};

// The trace's lines handed to the checks have their values in UTF-8.

// library, key-file and built-in-key, from the start line (null when the
// library wrote none).
void AddStartFindings(const TraceLine *start, const Surroundings &surroundings,
                      std::vector<Finding> *findings);

// url, name-lookup, connect, tls, proxy and answer, from the exchange line
// of one server transaction. Checks that the exchange did not reach are left
// out.
void AddExchangeFindings(const TraceLine &exchange, const TraceLine *start,
                         std::vector<Finding> *findings);

// The answer held no usable time or signature although it verified:
// `message` is the library's last error, with its meaning.
Finding UnusableTimeFinding(const std::string &message);

// Kel_VerifyTimeStamp on the time and signature the server gave.
Finding TimestampFinding(bool verified, const TraceLine *start, const TraceLine &exchange);

// How far the server's time is from the local clock's, read before and
// after the exchange; all three "YYYY-MM-DD hh:mm:ss".
constexpr long kMaxClockSkewSeconds = 60;
Finding ClockFinding(const std::string &server_time, const std::string &before,
                     const std::string &after);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_DOCTOR_FINDINGS_H_
