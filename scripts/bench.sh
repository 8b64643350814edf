#!/usr/bin/env bash
# Builds the release build (default preset) and runs every benchmark, each
# figure printed as a ratio of two measurements taken in the same run:
#   codecs      base64 against OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock,
#               base64 and hex against memcpy
#   codecs_i686 the same four ratios to memcpy for the shipped 32-bit Kel.dll
#               (built with scripts/build-windows.sh i686, run under wine32),
#               each beside the Linux ratio; goal: 32-bit / Linux >= 0.8
#   tag reader  cost per MiB of a 16 MiB document against a 1 MiB one
#   exchange    Kel_VerifySeal against its irreducible work on loopback
#   reuse       Kel_VerifySeal over https through a relay adding 20 ms each way:
#               calls 2-100 on a kept connection against one round trip and
#               the server's time, and against calls over fresh connections
#   memory      the peak of an answer at the size bound against its size
# Full Google Benchmark output goes to build/default/bench/*.log.
# Usage: scripts/bench.sh   (exit status 2 when a goal is missed)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target \
  kel_codec_bench kel_tag_reader_bench kel_exchange_bench kel_reuse_bench kel_answer_memory \
  >/dev/null
bin=build/default/bin
logs=build/default/bench
mkdir -p "$logs"

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
  "AVX2 kernels: $(grep -qw avx2 /proc/cpuinfo && echo yes || echo no)"
status=0
run() {
  local name=$1
  shift
  echo
  echo "== $name"
  "$@" >"$logs/$name.log" 2>&1 || status=$?
  # Only the summary that each program prints after its runs.
  sed -n '/^Throughput ratios\|^Median\|^Memory peak\|^Kel_VerifySeal over/,$p' "$logs/$name.log"
}
run codecs "$bin/kel_codec_bench"
run tag_reader "$bin/kel_tag_reader_bench"
run exchange "$bin/kel_exchange_bench"
run reuse "$bin/kel_reuse_bench"
run memory "$bin/kel_answer_memory"

# The shipped 32-bit Kel.dll, loaded by a Windows program that times its codecs
# against memcpy in the same process (bench/windows), in a Wine prefix of its
# own that is removed afterwards.
echo
echo "== codecs_i686"
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "wine32 is not installed (or cannot run 32-bit programs here): 32-bit codec figures skipped"
  exit "$status"
fi
win=build/windows-i686
toolchain=()
[[ -f "$win/bench/CMakeCache.txt" ]] || toolchain=(--toolchain "$PWD/cmake/toolchains/mingw-i686.cmake")
if ! { scripts/build-windows.sh i686 &&
  cmake -S bench/windows -B "$win/bench" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$win/bench"; } >"$logs/codecs_i686_build.log" 2>&1; then
  echo "the 32-bit build failed: see $logs/codecs_i686_build.log"
  exit 1
fi
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$scratch"' EXIT
cp "$win/bench/kel_codec_bench_windows.exe" "$win/bin/Kel.dll" "$win/bin/KESTRO.dll" "$scratch/"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
if ! /usr/lib/wine/wine "$scratch/kel_codec_bench_windows.exe" 2>/dev/null |
  tr -d '\r' >"$logs/codecs_i686.log"; then
  echo "the 32-bit codec benchmark failed:"
  cat "$logs/codecs_i686.log"
  exit 1
fi
# "label ratio" from each program's "vs memcpy" lines, joined by label.
figures() { sed -n 's/^  \(.* vs memcpy\)  *\([0-9.]\+\).*/\1|\2/p' "$1"; }
echo "Throughput ratios to memcpy, 32-bit Kel.dll under wine32 beside the Linux build:"
printf '  %-34s %8s %8s %8s\n' "" 32-bit Linux quotient
awk -F'|' -v goal=0.8 '
  NR == FNR { linux[$1] = $2; next }
  {
    if (!($1 in linux) || linux[$1] <= 0) { printf "  %-34s %8.2f %8s\n", $1, $2, "n/a"; next }
    quotient = $2 / linux[$1]
    met = quotient >= goal
    if (!met) missed = 1
    printf "  %-34s %8.2f %8.2f %8.2f  (goal >= %.2f)  %s\n", $1, $2, linux[$1], quotient, goal,
      met ? "met" : "MISSED"
  }
  END { exit missed ? 2 : 0 }
' <(figures "$logs/codecs.log") <(figures "$logs/codecs_i686.log") || status=$?
copy_time() { sed -n 's/^  (memcpy of 16 MiB: \(.*\))$/\1/p' "$1"; }
echo "  (memcpy of 16 MiB: 32-bit $(copy_time "$logs/codecs_i686.log")," \
  "Linux $(copy_time "$logs/codecs.log"))"
exit "$status"
