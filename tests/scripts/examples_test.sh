#!/usr/bin/env bash
# The example programs of examples/ (C#, Java, Pascal), as the Windows packages ship
# them: each is built against its language's binding and run against the
# reference seal server, once for a valid seal (exit 0) and once for an
# unknown one (exit 1, "seal not valid").
# Usage: tests/scripts/examples_test.sh LIBRARY_DIR SEAL_SERVER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fixtures="$root/tests/fixtures"
library_dir=$(cd "$1" && pwd)
server=$2
jna=${JNA_JAR:-/usr/share/java/jna.jar}

work=$(mktemp -d)
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The runtime files only, with the development server key as pubkey.key.
cp -L "$library_dir/libkel.so.1" "$library_dir/libkestro.so.1" "$work/"
cp "$fixtures/dev-only-document-server-key.pub" "$work/pubkey.key"

# shellcheck source=tests/scripts/seal_server.sh
source "$root/tests/scripts/seal_server.sh"
start_seal_server "$work/server.out" "$server" --key "$fixtures/dev-only-document-server-key.pem" \
  --valid-seal 'S-1=Acme Ltd'
url=$server_url

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

# Free Pascal links -lkel through a development link to the library.
mkdir "$work/link" "$work/pascal"
ln -s "$library_dir/libkel.so.1" "$work/link/libkel.so"
fpc -Sewn -vwn -l- -FU"$work/pascal" -Fu"$root/bindings/pascal" -Fl"$work/link" \
  -k-rpath-link="$library_dir" -o"$work/pascal/verify_seal" "$root/examples/pascal/verify_seal.pas" |
  grep -vE '^(Target OS|Compiling|Linking|[0-9]+ lines compiled)' || true
[[ -x "$work/pascal/verify_seal" ]] || { echo "the Pascal example did not build"; exit 1; }
LC_ALL=C.UTF-8 LD_LIBRARY_PATH="$work" check Pascal "$work/pascal/verify_seal"

[[ $failures -eq 0 ]] || { echo "$failures example checks failed"; exit 1; }
