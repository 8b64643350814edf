#include "api/call_gate.h"

#include <atomic>

namespace kel {
namespace {

// Constant-initialised, without destructors: they hold from before the
// first static object is made until the process ends.
//
// Both are sequentially consistent, which makes the pair safe: a call
// counts itself before it looks at `closed`, and the gate sets `closed`
// before it looks at the count. So either the gate sees the call, or the
// call sees the gate closed; never neither.
std::atomic<long> calls_in_progress{0};
std::atomic<bool> closed{false};

// 0 undecided, 1 destroy the static objects, 2 keep them.
std::atomic<int> verdict{0};

}  // namespace

CallInProgress::CallInProgress() noexcept {
  calls_in_progress.fetch_add(1);
  admitted_ = !closed.load();
}

CallInProgress::~CallInProgress() { calls_in_progress.fetch_sub(1); }

bool CloseGateWhenIdle() noexcept {
  // Static destructors run one after another on one thread, so the first
  // one decides before any other asks.
  if (verdict.load() == 0) {
    closed.store(true);
    verdict.store(calls_in_progress.load() == 0 ? 1 : 2);
  }
  return verdict.load() == 1;
}

}  // namespace kel
