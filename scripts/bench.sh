#!/usr/bin/env bash
# Builds the release build (default preset) and runs every benchmark, each
# figure printed as a ratio of two measurements taken in the same run:
#   codecs      base64 against OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock,
#               hex against memcpy
#   tag reader  cost per MiB of a 16 MiB document against a 1 MiB one
#   exchange    Kel_VerifySeal against its irreducible work on loopback
#   memory      the peak of an answer at the size bound against its size
# Full Google Benchmark output goes to build/default/bench/*.log.
# Usage: scripts/bench.sh   (exit status 2 when a goal is missed)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target \
  kel_codec_bench kel_tag_reader_bench kel_exchange_bench kel_answer_memory >/dev/null
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
  sed -n '/^Throughput ratios\|^Median\|^Memory peak/,$p' "$logs/$name.log"
}
run codecs "$bin/kel_codec_bench"
run tag_reader "$bin/kel_tag_reader_bench"
run exchange "$bin/kel_exchange_bench"
run memory "$bin/kel_answer_memory"
exit "$status"
