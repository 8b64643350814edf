#!/usr/bin/env bash
# valgrind memcheck over the end-to-end suite in the default (unsanitized,
# optimised) build: no invalid access, no use of uninitialised memory and no
# definite or indirect leak. Child processes that the suite starts (the module
# probe and the command-line host, which load copies of the library) run
# under valgrind too; the shell and system programs do not. The test of a
# host that exits in the middle of a call is left out: its point is real
# timing, and a process cut off by exit() leaves its other thread's memory
# behind by design.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kel_e2e_tests
valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --trace-children=yes --trace-children-skip='/bin/*,/usr/bin/*' \
  --suppressions="$PWD/tests/valgrind/third_party.supp" \
  build/default/bin/kel_e2e_tests --gtest_brief=1 \
  --gtest_filter='-Transactions.AHostThatExitsDuringACallEndsCleanly'
