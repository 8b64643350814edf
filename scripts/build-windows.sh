#!/usr/bin/env bash
# Builds Kel.dll and KESTRO.dll for Windows with mingw-w64 through the
# windows-<target> presets: 32-bit (the shipped product) into
# build/windows-i686 and 64-bit into build/windows-x86_64; the DLLs land in
# each folder's bin/, the Windows test programs in build/windows-<target>/tests
# (run them with ctest --preset windows-<target>).
# Usage: scripts/build-windows.sh [i686|x86_64]...   (both when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(i686 x86_64)
jobs="${KEL_BUILD_JOBS:-$(nproc)}"
for target in "${targets[@]}"; do
  [[ -f "cmake/toolchains/mingw-${target}.cmake" ]] || { echo "unknown Windows target: $target" >&2; exit 2; }
  cmake --preset "windows-${target}" >/dev/null
  cmake --build --preset "windows-${target}" -j "$jobs"
done
