#!/usr/bin/env bash
# Builds Kel.dll and KESTRO.dll for Windows with mingw-w64: 32-bit (the
# shipped product) into build/windows-i686 and 64-bit into
# build/windows-x86_64; the DLLs land in each folder's bin/.
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
  cmake -S . -B "$build" -G Ninja "${configure[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DKEL_BUILD_TESTS=OFF -DKEL_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$build" -j "$jobs"
  # The Windows test host (64-bit: it runs under wine64).
  if [[ "$target" == x86_64 ]]; then
    [[ -f "$build/tests/CMakeCache.txt" ]] || configure=(--toolchain "$toolchain")
    cmake -S tests/windows -B "$build/tests" -G Ninja "${configure[@]}" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build/tests" -j "$jobs"
  fi
done
