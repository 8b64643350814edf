#include "api/last_error.h"

#include <mutex>

namespace kel {
namespace {

// Both live for the life of the loaded module; function-local statics avoid
// depending on the construction order of objects in other files.
std::mutex &LastErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string &LastError() {
  static std::string text;
  return text;
}

}  // namespace

void ClearLastError() {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  LastError().clear();
}

void ReportError(const std::string &message) {
  std::string copy = message;  // taken before the lock: allocation may be slow
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  if (LastError().empty()) LastError().swap(copy);
}

std::string LastErrorText() {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  return LastError();
}

}  // namespace kel
