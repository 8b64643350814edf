#!/usr/bin/env bash
# Builds the Pascal binding's tests with Free Pascal, in Delphi and in ObjFPC
# mode, and runs both against a built libkel.so and the reference seal server.
# Usage: bindings/pascal/run-tests.sh LIBRARY_DIR SEAL_SERVER
#   LIBRARY_DIR  the folder of libkel.so.1 and libkestro.so.1 (build/default/lib)
#   SEAL_SERVER  the kel-seal-server program
# Needs Debian's fp-compiler (with fp-units-rtl: cwstring, cthreads).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../../tests/fixtures"
library_dir=$(cd "$1" && pwd)
server=$2

work=$(mktemp -d)
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Linked as a program is against an installed tree: -lkel through the
# development link libkel.so, which records libkel.so.1 as the library to load.
mkdir "$work/link" "$work/run"
ln -s "$library_dir/libkel.so.1" "$work/link/libkel.so"
for mode in delphi objfpc; do
  mkdir "$work/$mode"
  # Warnings and notes are errors.
  fpc -M"$mode" -Sewn -vwn -l- -FU"$work/$mode" -Fu"$here" -Fl"$work/link" \
    -k-rpath-link="$library_dir" -o"$work/$mode/kel_tests" "$here/tests/kel_tests.pas" |
    grep -vE '^(Target OS|Compiling|Linking|[0-9]+ lines compiled)' || true
  [[ -x "$work/$mode/kel_tests" ]] || { echo "kel_tests did not build in $mode mode"; exit 1; }
done
# The runtime files only, as a deployment has them, with the development
# server key beside them as pubkey.key.
cp -L "$library_dir/libkel.so.1" "$library_dir/libkestro.so.1" "$work/run/"
cp "$fixtures/dev-only-document-server-key.pub" "$work/run/pubkey.key"

# shellcheck source=tests/scripts/seal_server.sh
source "$here/../../tests/scripts/seal_server.sh"
start_seal_server "$work/server.out" "$server" --key "$fixtures/dev-only-document-server-key.pem" \
  --test-hooks --valid-seal 'S-1=Acme Ltd' --valid-seal 'S-8=张三'
url=$server_url

# Free Pascal keeps strings in the locale's code page: UTF-8 here, so that
# the tests' Chinese texts survive their way to and from GBK.
status=0
for mode in delphi objfpc; do
  echo "$mode mode:"
  LC_ALL=C.UTF-8 LD_LIBRARY_PATH="$work/run" "$work/$mode/kel_tests" "$url" \
    "$here/../../include/kel/kel_messages.h" || status=1
done
exit $status
