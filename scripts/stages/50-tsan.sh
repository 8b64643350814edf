#!/usr/bin/env bash
# The concurrency test under ThreadSanitizer: the exports from eight threads
# at once must show no data race. Builds only what the test needs, in
# build/tsan.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_TSAN=ON \
  -DKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kel_concurrency_tests
# halt_on_error: the first report fails the run, whatever the test's verdict.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$build/bin/kel_concurrency_tests"
