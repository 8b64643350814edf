#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh asan
ctest --preset asan
