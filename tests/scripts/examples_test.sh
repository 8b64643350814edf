#!/usr/bin/env bash
# The example programs of examples/ (C#, Java, Pascal), as the Windows packages ship
# them: each is built against its language's binding and run against the
# reference seal server, once for a valid seal (exit 0) and once for an
# unknown one (exit 1, "seal not valid").
# Usage: tests/scripts/examples_test.sh LIBRARY_DIR SEAL_SERVER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/scripts/binding_tests.sh
source "$root/tests/scripts/binding_tests.sh" "$@"
jna=${JNA_JAR:-/usr/share/java/jna.jar}
deploy_runtime "$work"

failures=0
# Runs one example for a valid and an unknown seal and checks both outcomes.
check() {
  local name=$1 output
  shift
  if ! output=$("$@" "$url" "Acme Ltd" S-1 2>&1) || [[ $output != "seal valid"*"signature verifies"* ]]; then
    echo "FAIL $name, valid seal: $output"
    failures=$((failures + 1))
  fi
  local status=0
  output=$("$@" "$url" "Acme Ltd" S-404 2>&1) || status=$?
  if [[ $status -ne 1 || $output != "seal not valid"* ]]; then
    echo "FAIL $name, unknown seal (exit $status): $output"
    failures=$((failures + 1))
  fi
  echo "example $name: checked"
}

mcs -nologo -warnaserror -out:"$work/VerifySeal.exe" "$root/bindings/dotnet/Kel.cs" \
  "$root/examples/csharp/VerifySeal.cs"
LD_LIBRARY_PATH="$work" check C# mono "$work/VerifySeal.exe"

mapfile -t java_sources < <(find "$root/bindings/java/src/main/java" -name '*.java')
javac -Werror -Xlint:all --release 8 -encoding UTF-8 -cp "$jna" -d "$work/classes" \
  "${java_sources[@]}" "$root/examples/java/VerifySeal.java"
check Java java -Djna.library.path="$work" -cp "$work/classes:$jna" VerifySeal

build_pascal "$root/examples/pascal/verify_seal.pas" "$work/pascal/verify_seal"
LC_ALL=C.UTF-8 LD_LIBRARY_PATH="$work" check Pascal "$work/pascal/verify_seal"

[[ $failures -eq 0 ]] || { echo "$failures example checks failed"; exit 1; }
