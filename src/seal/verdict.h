// The verdict form of a result text: one byte that is not examined, ',',
// a status of 0 to 8 bytes, ',', and the description (which may be empty and
// may itself hold commas).
#ifndef KEL_SEAL_VERDICT_H_
#define KEL_SEAL_VERDICT_H_

#include <string>

namespace kel {

struct Verdict {
  int status = 0;
  std::string description;
};

// False when `result` is not in the verdict form.
bool ParseVerdict(const std::string &result, Verdict *verdict);

}  // namespace kel

#endif  // KEL_SEAL_VERDICT_H_
