// The process-wide last-error text that Kel_GetLastErr copies out.
//
// Invariant: within one export call the first reported message wins.
// ReportError writes only into an empty text, so an inner step's reason is
// not overwritten by the generic message of the transaction that called it.
// The text is one per process (not per thread); a mutex keeps concurrent
// callers from tearing it, but the last clearing call of any thread decides
// what the next Kel_GetLastErr sees.
#ifndef KEL_API_LAST_ERROR_H_
#define KEL_API_LAST_ERROR_H_

#include <string>

namespace kel {

// Empties the text. Clearing exports call this as their very first step.
void ClearLastError();

// Stores `message` when the text is empty; otherwise keeps the earlier one.
void ReportError(const std::string &message);

// A copy of the current text.
std::string LastErrorText();

}  // namespace kel

#endif  // KEL_API_LAST_ERROR_H_
