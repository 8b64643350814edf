#!/usr/bin/env bash
# The release build's shipped libraries are hardened: full RELRO, a
# non-executable stack, the stack protector and fortified libc calls.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kel kestro
tests/scripts/check_hardening.sh --fortify build/default/lib/libkel.so build/default/lib/libkestro.so
