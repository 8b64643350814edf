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
# shellcheck source=tests/scripts/binding_tests.sh
source "$here/../../tests/scripts/binding_tests.sh" "$@"

mcs -nologo -warnaserror -out:"$work/KelTests.exe" "$here/Kel.cs" "$here/tests/KelTests.cs"
deploy_runtime "$work"

# Mono finds the library as libkel.so.1 on the loader's search path.
LD_LIBRARY_PATH="$work" mono "$work/KelTests.exe" "$url" "$here/../../include/kel/kel_messages.h"
