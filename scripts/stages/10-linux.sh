#!/usr/bin/env bash
# The library's suite on Linux: the sanitizer build and every ctest test.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/build.sh asan
ctest --preset asan
