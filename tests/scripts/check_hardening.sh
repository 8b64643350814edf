#!/usr/bin/env bash
# Checks that ELF files were built hardened:
#   - full RELRO: a GNU_RELRO segment and immediate binding (BIND_NOW / NOW);
#   - a stack that cannot execute (GNU_STACK without E);
#   - the stack protector: the file calls __stack_chk_fail;
#   - with --fortify: at least one of the files calls a fortified libc
#     function (__*_chk other than __stack_chk_fail). Not every file calls
#     one: the compiler substitutes them only where it knows a buffer's size.
# Usage: check_hardening.sh [--fortify] FILE...
set -euo pipefail

fortify=0
if [[ "${1:-}" == "--fortify" ]]; then
  fortify=1
  shift
fi
[[ $# -gt 0 ]] || { echo "usage: $0 [--fortify] FILE..." >&2; exit 2; }

failures=0
fail() {
  echo "FAIL $1: $2" >&2
  failures=$((failures + 1))
}

fortified_files=0
for file in "$@"; do
  segments=$(readelf -lW "$file")
  dynamic=$(readelf -dW "$file")
  symbols=$(readelf --dyn-syms -W "$file")

  grep -q "GNU_RELRO" <<<"$segments" || fail "$file" "no GNU_RELRO segment"
  grep -Eq "\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW|\(BIND_NOW\)" <<<"$dynamic" ||
    fail "$file" "symbols are bound lazily (no BIND_NOW): partial RELRO only"
  stack=$(grep "GNU_STACK" <<<"$segments" || true)
  if [[ -z "$stack" ]]; then
    fail "$file" "no GNU_STACK header: the loader would make the stack executable"
  elif awk '{ print $(NF-1) }' <<<"$stack" | grep -q "E"; then
    fail "$file" "the stack is executable"
  fi
  grep -q " __stack_chk_fail" <<<"$symbols" || fail "$file" "no stack protector (__stack_chk_fail)"
  if grep -Eo " __[a-z0-9_]+_chk(@|$)" <<<"$symbols" | grep -vq "__stack_chk"; then
    fortified_files=$((fortified_files + 1))
  fi
  echo "checked $file"
done

if [[ $fortify -eq 1 && $fortified_files -eq 0 ]]; then
  fail "$*" "no fortified libc call in any file (_FORTIFY_SOURCE not in effect?)"
fi
if [[ $failures -ne 0 ]]; then
  exit 1
fi
echo "hardening: all checks passed"
