// The verdict form of a result text: one byte that is not examined, ',',
// a status of 0 to 8 bytes, ',', and the description (which may be empty and
// may itself hold commas).
#ifndef KEL_SEAL_VERDICT_H_
#define KEL_SEAL_VERDICT_H_

#include <string_view>

#include "api/secure_wipe.h"

namespace kel {

struct Verdict {
  int status = 0;
  SecretText description;  // server text, decrypted
};

// False when `result` is not in the verdict form.
bool ParseVerdict(std::string_view result, Verdict *verdict);

}  // namespace kel

#endif  // KEL_SEAL_VERDICT_H_
