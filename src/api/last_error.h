// The process-wide last-error text that Kel_GetLastErr copies out.
//
// Invariant: within one export call the first reported message wins.
// ReportError writes only into an empty text, so an inner step's reason is
// not overwritten by the generic message of the transaction that called it.
// The text is one per process (not per thread); a mutex keeps concurrent
// callers from tearing it, but the last clearing call of any thread decides
// what the next Kel_GetLastErr sees.
//
// None of these functions throws. They run in the catch handler of every
// export, typically when memory has run out, so the text keeps a block of
// kLastErrorReserve bytes from start-up on: clearing keeps the block, and a
// message that fits is copied into it without allocating.
#ifndef KEL_API_LAST_ERROR_H_
#define KEL_API_LAST_ERROR_H_

#include <cstddef>
#include <string>

#include "api/secure_wipe.h"

namespace kel {

// Room that the text keeps for messages. The library's own messages are far
// shorter; server descriptions usually fit too.
inline constexpr std::size_t kLastErrorReserve = 256;

// Empties the text, wiping it: it may hold a server's description, which
// is decrypted server data. Clearing exports call this as their very first
// step.
void ClearLastError() noexcept;

// Stores `message` when the text is empty; otherwise keeps the earlier one.
// A message longer than the kept block needs memory; when none can be had
// the text stays empty.
void ReportError(const char *message) noexcept;

// The same for a text the caller gives up: a long one is taken over whole
// instead of copied, so it needs no memory either. Afterwards `message` may
// hold anything.
void ReportError(SecretText &&message) noexcept;

// A new host buffer (see host_buffer.h) holding the text, or null when
// memory cannot be had.
char *NewLastErrorBuffer() noexcept;

// A copy of the current text, for tests.
std::string LastErrorText();

}  // namespace kel

#endif  // KEL_API_LAST_ERROR_H_
