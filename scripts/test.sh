#!/usr/bin/env bash
# The whole test suite: installs what is missing, then runs each stage in
# scripts/stages/ in order (the Linux suite under AddressSanitizer and
# UndefinedBehaviorSanitizer first). Stops at the first stage that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh test
for stage in scripts/stages/*.sh; do
  echo "=== stage $(basename "$stage" .sh)"
  bash "$stage"
done
