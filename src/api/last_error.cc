#include "api/last_error.h"

#include <mutex>

#include "api/call_gate.h"
#include "api/host_buffer.h"

namespace kel {
namespace {

// Both live for the life of the loaded module; function-local statics avoid
// depending on the construction order of objects in other files.
std::mutex &LastErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

SecretText ReservedText() noexcept {
  SecretText text;
  try {
    text.reserve(kLastErrorReserve);
  } catch (...) {
    // Without the block messages are still stored while memory lasts.
  }
  return text;
}

SecretText &LastError() noexcept {
  static ModuleStatic<SecretText> text(ReservedText());
  return text.get();
}

// Takes the block at start-up, when memory is plentiful, rather than at the
// first message, which may come when it has run out.
[[maybe_unused]] const bool reserved_at_load = (LastError(), true);

}  // namespace

void ClearLastError() noexcept {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  LastError().Wipe();  // keeps the capacity
}

void ReportError(const char *message) noexcept {
  if (message == nullptr) return;
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  SecretText &text = LastError();
  if (!text.empty()) return;
  try {
    text.assign(message);  // allocates only beyond the capacity
  } catch (...) {
    // No memory for a long message: the text stays empty, as it was.
  }
}

void ReportError(SecretText &&message) noexcept {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  SecretText &text = LastError();
  if (!text.empty()) return;
  if (message.size() <= text.capacity()) {
    text.assign(message.data(), message.size());  // fits: no allocation
  } else {
    text.swap(message);  // the caller's block, with room to spare for later messages
  }
}

char *NewLastErrorBuffer() noexcept {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  const SecretText &text = LastError();
  return NewHostBuffer(text.data(), text.size());
}

std::string LastErrorText() {
  std::lock_guard<std::mutex> lock(LastErrorMutex());
  return std::string(LastError().data(), LastError().size());
}

}  // namespace kel
