// The trace's platform half on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "api/trace.h"

namespace kel::trace {
namespace {

// Holds off a host's pthread_cancel while a line is written: open, write and
// close are cancellation points, and a cancelled write would leave half a
// line and an open descriptor behind.
class NoCancellation {
 public:
  NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_); }
  ~NoCancellation() { pthread_setcancelstate(previous_, nullptr); }
  NoCancellation(const NoCancellation &) = delete;
  NoCancellation &operator=(const NoCancellation &) = delete;

 private:
  int previous_ = PTHREAD_CANCEL_ENABLE;
};

// Holds off SIGPIPE while a line is written: writing to a pipe (standard
// error, a FIFO) whose reader has gone raises it, and its default action
// would end the host. A signal the write raised is taken back before the
// thread's mask is restored; one that was pending before is left alone.
class NoBrokenPipeSignal {
 public:
  NoBrokenPipeSignal() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
  }
  ~NoBrokenPipeSignal() {
    if (!blocked_) return;
    sigset_t pending;
    sigemptyset(&pending);
    if (!was_pending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec no_wait{};
      sigtimedwait(&pipe_, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  NoBrokenPipeSignal(const NoBrokenPipeSignal &) = delete;
  NoBrokenPipeSignal &operator=(const NoBrokenPipeSignal &) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool was_pending_ = false;
  bool blocked_ = false;
};

// True when `file` can take a write now: the write must not wait for a
// reader that has stopped reading.
bool Writable(int file) {
  pollfd poll_file{file, POLLOUT, 0};
  return poll(&poll_file, 1, 0) == 1 && (poll_file.revents & POLLOUT) != 0;
}

// One write of the whole line. A pipe takes a write of up to PIPE_BUF bytes
// whole or not at all; a regular file may take part of it (a full disk),
// and the part is cut off again so that the next line does not join it.
bool WriteWhole(int file, bool regular, const char *data, std::size_t size) {
  NoBrokenPipeSignal hold;
  ssize_t count;
  do {
    count = write(file, data, size);
  } while (count < 0 && errno == EINTR);
  if (count == static_cast<ssize_t>(size)) return true;
  if (count > 0 && regular) {
    off_t end = lseek(file, 0, SEEK_CUR);  // behind the part, for O_APPEND
    // Nothing more can be done when even that fails.
    if (end >= count && ftruncate(file, end - count) != 0) return false;
  }
  return false;
}

}  // namespace

bool AppendToFile(const char *path, const char *data, std::size_t size) noexcept {
  NoCancellation hold;
  // Standard error is the host's: its mode is not changed, so a full pipe
  // is seen by asking first.
  if (path == nullptr)
    return Writable(STDERR_FILENO) && WriteWhole(STDERR_FILENO, false, data, size);
  // O_NONBLOCK: opening a FIFO does not wait for a reader, and writing to it
  // does not wait for room. O_NOFOLLOW: a link planted at the trace's path
  // does not lead the lines elsewhere.
  int file = open(
      path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0600);
  if (file < 0) return false;
  struct stat status {};
  bool written = false;
  if (fstat(file, &status) == 0) {
    bool regular = S_ISREG(status.st_mode);
    if (regular || S_ISFIFO(status.st_mode) || (S_ISCHR(status.st_mode) && isatty(file))) {
      written = WriteWhole(file, regular, data, size);
    }
  }
  close(file);
  return written;
}

unsigned long ProcessNumber() noexcept { return static_cast<unsigned long>(getpid()); }

unsigned long ThreadNumber() noexcept { return static_cast<unsigned long>(gettid()); }

bool UtcTime(std::time_t when, std::tm *utc) noexcept { return gmtime_r(&when, utc) != nullptr; }

}  // namespace kel::trace
