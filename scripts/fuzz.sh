#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for the given
# number of seconds over its seed corpus in fuzz/corpus/<target>.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
# New inputs go to build/fuzz/corpus/<target>, crashes to
# build/fuzz/artifacts/; the seeds in the repository are not changed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
targets=(tag_reader base64_decode hex_decode url verdict answer)
build=build/fuzz
default_options="-rss_limit_mb=2048"
# Options of single targets, in place of the default ones. The answer
# target reads raw bodies of at most 4 KiB and expands templates to bodies
# of at most 1 MiB (kMaxBody in fuzz/answer_fuzz.cc). Decoding a sound or
# broken body never needs a block larger than the body itself (the reader's
# copy of the document, the framed payload and the decrypted text are each
# at most that), so any block of 2 MiB, twice the largest body, is a
# finding. The RSS limit sits at about twice what the run settles at (some
# 560 MB, most of it ASan's 256 MB quarantine).
declare -A target_options=(
  [answer]="-max_len=4096 -malloc_limit_mb=2 -rss_limit_mb=1024"
)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEL_FUZZ=ON -DKEL_BUILD_TESTS=OFF -DKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/kel_fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$work" "$artifacts"
  echo "fuzz: $target for ${seconds}s"
  read -r -a extra <<<"${target_options[$target]:-$default_options}"
  if ! "$build/bin/kel_fuzz_$target" -max_total_time="$seconds" -timeout=10 "${extra[@]}" \
      -print_final_stats=1 -artifact_prefix="$artifacts" "$work" "fuzz/corpus/$target" \
      >"$build/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$build/$target.log" >&2
  fi
  grep -E "^stat::number_of_executed_units|^Done" "$build/$target.log" | tr '\n' ' ' || true
  echo
done
if [[ ${#failed[@]} -ne 0 ]]; then
  echo "fuzz: failures in ${failed[*]} (inputs in $build/artifacts/)" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s without a finding"
