// The trace's platform half on Windows. Paths are narrow, in the ANSI code
// page, like every other path the library is given.
#include <windows.h>

#include "api/trace.h"

namespace kel::trace {
namespace {

bool WriteAll(HANDLE file, const char *data, std::size_t size) {
  while (size > 0) {
    DWORD chunk = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD count = 0;
    if (!WriteFile(file, data, chunk, &count, nullptr) || count == 0) return false;
    data += count;
    size -= count;
  }
  return true;
}

}  // namespace

bool AppendToFile(const char *path, const char *data, std::size_t size) noexcept {
  if (path == nullptr) {
    // A program without a console (a GUI host) has no standard error: the
    // handle is null, and the line is dropped.
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    return error != nullptr && error != INVALID_HANDLE_VALUE && WriteAll(error, data, size);
  }
  // FILE_APPEND_DATA alone: every write lands at the end of the file, also
  // when other processes append to it at the same time. The sharing flags
  // let others read, append, rename or delete the file meanwhile.
  HANDLE file =
      CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteAll(file, data, size);
  CloseHandle(file);
  return written;
}

unsigned long ProcessNumber() noexcept { return GetCurrentProcessId(); }

unsigned long ThreadNumber() noexcept { return GetCurrentThreadId(); }

bool UtcTime(std::time_t when, std::tm *utc) noexcept { return gmtime_s(utc, &when) == 0; }

}  // namespace kel::trace
