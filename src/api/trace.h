// The trace: an integrator's record of what the library did, switched on
// without changing the host program. When the environment variable KEL_TRACE
// names a file as the library is loaded (or is "-", the process's standard
// error), one line per event is appended to it: the module's start and each
// server exchange (URL parts, request target, status, byte counts, answer
// format, the check that failed and the transport's own error text). Off by
// default; the library keeps no other log.
//
// A line is built from name=value fields and written whole, with one write
// that never waits, to a file opened for appending and closed again, so lines
// from several threads (and processes) never interleave, nothing waits in a
// buffer, and the file can be moved away at any time. The trace never holds
// or slows a call: no lock is held while a line is written, and a line that
// cannot be built or written at once (a FIFO whose reader stopped reading, a
// full disk) is dropped whole; the next line that gets through ends with
// " dropped=N", the number of lines lost before it.
//
// Values are escaped (bytes outside printable ASCII as \xNN) and cut at
// kMaxValueBytes, and a line never exceeds kMaxLineBytes. The trace never
// holds a parameter value, the response key or a decrypted answer: callers
// pass lengths for those, and nothing here reads them.
//
// trace_posix.cc and trace_windows.cc hold the platform half: appending to a
// file, the process and thread numbers, and the calendar.
#ifndef KEL_API_TRACE_H_
#define KEL_API_TRACE_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace kel::trace {

// The variable read at start-up. Unset or empty leaves the trace off; "-"
// sends it to standard error.
inline constexpr char kVariable[] = "KEL_TRACE";
inline constexpr char kStandardError[] = "-";

inline constexpr std::size_t kMaxValueBytes = 240;
inline constexpr std::size_t kMaxLineBytes = 2048;

// Switches the trace on, appending to the file at `path` (or to standard
// error for "-"), or off for a null or empty path. Module start-up calls it
// once, before any export can run; tests call it too, but never while a line
// may be written.
void Start(const char *path) noexcept;

bool Enabled() noexcept;

// One line under construction. It begins with the UTC time to the
// millisecond, the process and thread numbers and the event's name:
//   2025-03-04T05:06:07.089Z pid=812 tid=815 exchange result=ok ...
// Building allocates and may throw std::bad_alloc; Write never throws.
class Line {
 public:
  explicit Line(const char *event);

  // " name=value". The value is written bare when it is printable ASCII
  // without spaces, quotes or backslashes, else in double quotes, with a
  // backslash before a quote or backslash and \xNN for other bytes; a value
  // cut at kMaxValueBytes ends with "...".
  Line &Add(const char *name, const std::string &value);
  Line &Add(const char *name, std::uint64_t value);

  // Appends the line and a line feed to the trace file, when the trace is
  // on; a line that cannot be written at once is dropped and counted.
  void Write() const noexcept;

  const std::string &text() const { return text_; }

 private:
  std::string text_;
  bool full_ = false;  // the line reached kMaxLineBytes; later fields are dropped
};

// ---- The platform half ----------------------------------------------------

// Appends `size` bytes (at most kMaxLineBytes plus a few) to the file at
// `path` with one write, creating the file (readable by its owner only,
// where the system has such rights) when it is missing; a null `path`
// writes to the process's standard error. The path must name a regular
// file, a FIFO or a terminal, and is not followed when it is a symbolic
// link. Never waits: not for a FIFO's reader on opening, nor for room in a
// pipe on writing. All or nothing: false, with nothing left behind, when
// the bytes could not all be written at once. Never raises SIGPIPE, and
// cannot be interrupted half way by a thread cancellation.
bool AppendToFile(const char *path, const char *data, std::size_t size) noexcept;

unsigned long ProcessNumber() noexcept;
unsigned long ThreadNumber() noexcept;

// The platform's thread-safe conversion of `when` to UTC.
bool UtcTime(std::time_t when, std::tm *utc) noexcept;

}  // namespace kel::trace

#endif  // KEL_API_TRACE_H_
