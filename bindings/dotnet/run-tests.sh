#!/usr/bin/env bash
# Builds the C# binding and its tests with Mono's compiler and runs them
# against a built libkel.so and the reference seal server.
# Usage: bindings/dotnet/run-tests.sh LIBRARY_DIR SEAL_SERVER
#   LIBRARY_DIR  the folder of libkel.so.1 and libkestro.so.1 (build/default/lib)
#   SEAL_SERVER  the kel-seal-server program
# Needs Debian's mono-mcs, mono-runtime and libmono-i18n-cjk4.0-cil (code
# page 936).
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

mcs -nologo -warnaserror -out:"$work/KelTests.exe" "$here/Kel.cs" "$here/tests/KelTests.cs"
# The runtime files only, as a deployment has them (no libkel.so link), with
# the development server key beside them as pubkey.key.
cp -L "$library_dir/libkel.so.1" "$library_dir/libkestro.so.1" "$work/"
cp "$fixtures/dev-only-document-server-key.pub" "$work/pubkey.key"

# shellcheck source=tests/scripts/seal_server.sh
source "$here/../../tests/scripts/seal_server.sh"
start_seal_server "$work/server.out" "$server" --key "$fixtures/dev-only-document-server-key.pem" \
  --test-hooks --valid-seal 'S-1=Acme Ltd' --valid-seal 'S-8=张三'
url=$server_url

# Mono finds the library as libkel.so.1 on the loader's search path.
LD_LIBRARY_PATH="$work" mono "$work/KelTests.exe" "$url" "$here/../../include/kel/kel_messages.h"
