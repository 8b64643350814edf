#!/usr/bin/env bash
# Builds the Pascal binding's tests with Free Pascal, in Delphi and in ObjFPC
# mode, and runs both against a built libkel.so and the reference seal server.
# Usage: bindings/pascal/run-tests.sh LIBRARY_DIR SEAL_SERVER
#   LIBRARY_DIR  the folder of libkel.so.1 and libkestro.so.1 (build/default/lib)
#   SEAL_SERVER  the kel-seal-server program
# Needs Debian's fp-compiler (with fp-units-rtl: cwstring, cthreads).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/scripts/binding_tests.sh
source "$here/../../tests/scripts/binding_tests.sh" "$@"

for mode in delphi objfpc; do
  build_pascal "$here/tests/kel_tests.pas" "$work/$mode/kel_tests" -M"$mode"
done
deploy_runtime "$work/run"

# Free Pascal keeps strings in the locale's code page: UTF-8 here, so that
# the tests' Chinese texts survive their way to and from GBK.
status=0
for mode in delphi objfpc; do
  echo "$mode mode:"
  LC_ALL=C.UTF-8 LD_LIBRARY_PATH="$work/run" "$work/$mode/kel_tests" "$url" \
    "$here/../../include/kel/kel_messages.h" || status=1
done
exit $status
