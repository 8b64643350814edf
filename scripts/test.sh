#!/usr/bin/env bash
# The whole test suite: installs what is missing, then runs each stage in
# scripts/stages/ in order (the Linux suite under AddressSanitizer and
# UndefinedBehaviorSanitizer first). Stops at the first stage that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh test
# The suites talk to servers on loopback, and the library (like Wine's
# WinINet) honours the proxy variables: a proxy named in the environment is
# for the installs above only.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
for stage in scripts/stages/*.sh; do
  echo "=== stage $(basename "$stage" .sh)"
  bash "$stage"
done
