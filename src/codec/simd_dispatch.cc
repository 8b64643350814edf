#include "codec/simd_dispatch.h"

#include <atomic>

#include "codec/simd_kernels.h"

namespace kel {
namespace {

bool DetectAvx2() {
#if KEL_HAVE_AVX2_KERNELS
  // The compiler's check also asks the system whether it saves the wide
  // registers on a task switch, not only the processor whether it has them.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

std::atomic<bool> g_enabled{true};

}  // namespace

bool Avx2CodecsAvailable() {
  static const bool available = DetectAvx2();
  return available;
}

bool UseAvx2Codecs() { return g_enabled.load(std::memory_order_relaxed) && Avx2CodecsAvailable(); }

void EnableAvx2CodecsForTesting(bool enabled) { g_enabled.store(enabled); }

}  // namespace kel
