#!/usr/bin/env bash
# The C#, Java, Python and Pascal bindings against the release build's
# libkel.so and the reference seal server: the C# binding and its tests built
# with Mono's compiler and run under Mono; the Java binding and its tests
# built with the JDK and run over JNA; the Python package installed with pip from the
# source tree (offline, with its own build backend) and its tests run with
# pytest, the package's own kel_seal_server fixture included, which loads the
# library that KEL_LIBRARY names; the Pascal unit and its tests built with
# Free Pascal in Delphi and in ObjFPC mode. Then the example programs of
# examples/, each built against its binding and run against the server.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target kel kestro kel-seal-server
lib="$PWD/build/default/lib"
server="$PWD/build/default/bin/kel-seal-server"

echo "--- C# binding (Mono)"
bindings/dotnet/run-tests.sh "$lib" "$server"

echo "--- Java binding"
bindings/java/run-tests.sh "$lib" "$server"

echo "--- Pascal binding (Free Pascal)"
bindings/pascal/run-tests.sh "$lib" "$server"

echo "--- Example programs"
tests/scripts/examples_test.sh "$lib" "$server"

echo "--- Python binding"
target=$(mktemp -d)
trap 'rm -rf "$target"' EXIT
# Built from a copy, so that the source tree stays as it is.
cp -r bindings/python "$target/source"
PIP_ROOT_USER_ACTION=ignore /usr/bin/python3 -m pip install --quiet --disable-pip-version-check \
  --no-build-isolation --no-index --target "$target/site" "$target/source"
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$target/site" KEL_LIBRARY="$lib/libkel.so.1" KEL_SEAL_SERVER="$server" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider bindings/python/tests
