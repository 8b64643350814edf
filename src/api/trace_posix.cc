// The trace's platform half on POSIX systems.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

bool WriteAll(int file, const char *data, std::size_t size) {
  NoBrokenPipeSignal hold;
  while (size > 0) {
    ssize_t count = write(file, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

bool AppendToFile(const char *path, const char *data, std::size_t size) noexcept {
  NoCancellation hold;
  if (path == nullptr) return WriteAll(STDERR_FILENO, data, size);
  // O_NONBLOCK keeps the open from waiting for a reader when the path names
  // a FIFO; the writes then block as usual.
  int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (file < 0) return false;
  int flags = fcntl(file, F_GETFL);
  if (flags != -1) fcntl(file, F_SETFL, flags & ~O_NONBLOCK);
  bool written = WriteAll(file, data, size);
  close(file);
  return written;
}

unsigned long ProcessNumber() noexcept { return static_cast<unsigned long>(getpid()); }

unsigned long ThreadNumber() noexcept { return static_cast<unsigned long>(gettid()); }

bool UtcTime(std::time_t when, std::tm *utc) noexcept { return gmtime_r(&when, utc) != nullptr; }

}  // namespace kel::trace
