// The edge between an export and its host. The host is C (or a program with
// another C++ runtime), so nothing thrown inside the library may pass it: an
// exception that reached the host would end the process. In practice what is
// thrown is std::bad_alloc (or std::length_error for a size the address space
// cannot hold), and an export then fails like any other failure: it returns
// its failure result with its message in the last-error text.
//
// Every export runs its whole body through ExportBoundary. The handler only
// calls ReportError, which neither throws nor needs memory for the library's
// own messages (see last_error.h). The boundary also counts the call in
// progress, and fails a call that comes after the library was finalised
// (see call_gate.h).
#ifndef KEL_API_EXPORT_BOUNDARY_H_
#define KEL_API_EXPORT_BOUNDARY_H_

#include <exception>

#include "api/call_gate.h"
#include "api/last_error.h"

#if defined(__GLIBCXX__)
#include <cxxabi.h>
// The unwinding object has no C++ object behind it, so the handler's
// reference is bound to null; UndefinedBehaviorSanitizer must not stop there.
#define KEL_PASSES_FORCED_UNWIND __attribute__((no_sanitize("null")))
#else
#define KEL_PASSES_FORCED_UNWIND
#endif

namespace kel {

// Returns body(), or `failure` (after reporting `message` when it is not
// null) when the body throws. Returns `failure` at once, reporting nothing,
// once the library has been finalised.
//
// Not noexcept, for one case only: when the host cancels a thread that is
// inside an export (pthread_cancel while a transaction waits for the
// server), glibc unwinds the thread with abi::__forced_unwind. That is no
// error of the library; it must pass so that the thread ends the way the
// host asked, and swallowing it would abort the process.
template <typename Result, typename Body>
KEL_PASSES_FORCED_UNWIND Result ExportBoundary(Result failure, const char *message, Body &&body) {
  CallInProgress call;
  if (!call.admitted()) return failure;
  try {
    return body();
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind &) {
    throw;
#endif
  } catch (...) {
    ReportError(message);
    return failure;
  }
}

// For an export that returns nothing and reports nothing.
template <typename Body>
KEL_PASSES_FORCED_UNWIND void ExportBoundary(Body &&body) {
  CallInProgress call;
  if (!call.admitted()) return;
  try {
    body();
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind &) {
    throw;
#endif
  } catch (...) {
  }
}

}  // namespace kel

#endif  // KEL_API_EXPORT_BOUNDARY_H_
