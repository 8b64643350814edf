#!/usr/bin/env bash
# The fuzz smoke test: each libFuzzer target for 30 seconds under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/fuzz.sh 30
