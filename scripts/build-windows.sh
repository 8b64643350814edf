#!/usr/bin/env bash
# Builds Kel.dll and KESTRO.dll for Windows with mingw-w64: 32-bit (the
# shipped product) into build/windows-i686 and 64-bit into
# build/windows-x86_64; the DLLs land in each folder's bin/, the Windows test
# programs in build/windows-<target>/tests.
# Usage: scripts/build-windows.sh [i686|x86_64]...   (both when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(i686 x86_64)
jobs="${KEL_BUILD_JOBS:-$(nproc)}"
for target in "${targets[@]}"; do
  configure=()
  toolchain="$PWD/cmake/toolchains/mingw-${target}.cmake"
  [[ -f "$toolchain" ]] || { echo "unknown Windows target: $target" >&2; exit 2; }
  build="build/windows-${target}"
  # The toolchain applies to a fresh build folder only; later runs reuse it.
  [[ -f "$build/CMakeCache.txt" ]] || configure=(--toolchain "$toolchain")
  # The toolchain file alone selects a cross build: no tests or benchmarks.
  cmake -S . -B "$build" -G Ninja "${configure[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j "$jobs"
  # The Windows test programs, run under wine32 (i686) and wine64 (x86_64).
  configure=()
  [[ -f "$build/tests/CMakeCache.txt" ]] || configure=(--toolchain "$toolchain")
  cmake -S tests/windows -B "$build/tests" -G Ninja "${configure[@]}" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/tests" -j "$jobs"
done
