// The gate every export passes, and the objects that must outlive the calls
// in progress.
//
// A host may end its process (exit() on Linux) while another of its threads
// is inside a call. exit() destroys the library's static objects (the last
// error, the server key, the trace's path, the proxy settings) while that
// call goes on using them, and a write into a freed block corrupts the heap
// the rest of exit() still needs. Unloading the library (dlclose,
// FreeLibrary) destroys them the same way, and must leak nothing.
//
// Invariant: a ModuleStatic is destroyed only when no call was in progress
// at the moment the library was finalised, and no call enters afterwards.
// The first ModuleStatic destructor to run closes the gate and decides for
// all of them: with no call in progress they are destroyed (an unload leaks
// nothing); with one in progress they are left alone, and the process's end
// reclaims them. Either way a call that arrives after the gate has closed
// fails at once, without touching them (and so without a last-error text).
#ifndef KEL_API_CALL_GATE_H_
#define KEL_API_CALL_GATE_H_

#include <new>
#include <utility>

namespace kel {

// Counts one call in progress for as long as it lives.
class CallInProgress {
 public:
  CallInProgress() noexcept;
  ~CallInProgress();
  CallInProgress(const CallInProgress &) = delete;
  CallInProgress &operator=(const CallInProgress &) = delete;

  // False once the library has been finalised: the call must return its
  // failure result at once.
  bool admitted() const { return admitted_; }

 private:
  bool admitted_;
};

// Closes the gate (the first time) and tells whether the library's static
// objects may be destroyed: true when no call was in progress then. Every
// later call gives the same answer.
bool CloseGateWhenIdle() noexcept;

// A T that lives from its construction until the library is finalised, and
// is destroyed then only when CloseGateWhenIdle() allows it.
template <typename T>
class ModuleStatic {
 public:
  template <typename... Args>
  explicit ModuleStatic(Args &&...args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  ~ModuleStatic() {
    if (CloseGateWhenIdle()) get().~T();
  }
  ModuleStatic(const ModuleStatic &) = delete;
  ModuleStatic &operator=(const ModuleStatic &) = delete;

  T &get() { return *std::launder(reinterpret_cast<T *>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace kel

#endif  // KEL_API_CALL_GATE_H_
