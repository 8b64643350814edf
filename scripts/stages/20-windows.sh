#!/usr/bin/env bash
# Windows: builds Kel.dll and KESTRO.dll for 32-bit and 64-bit Windows,
# checks their PE tables, and runs the Windows test host under Wine against
# the reference seal server running natively on loopback. The 32-bit DLL is
# checked statically only: this machine's kernel cannot run 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/build-windows.sh
tests/scripts/check_windows_dlls.sh build/windows-i686 build/windows-x86_64

server=build/asan/bin/kel-seal-server
[[ -x "$server" ]] || {
  cmake --preset asan >/dev/null
  cmake --build --preset asan --target kel-seal-server
}

scratch=$(mktemp -d)
server_pid=""
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
# No Mono or Gecko installer prompts when the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -d "$WINEPREFIX" ]] && /usr/lib/wine/wineserver64 -k 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

fixtures="$PWD/tests/fixtures"
"$server" --port 0 --valid-seal S-1=Acme \
  --framed-key "$fixtures/dev-only-framed-server-key.pem" \
  --document-key "$fixtures/dev-only-document-server-key.pem" >"$scratch/server.out" 2>&1 &
server_pid=$!
url=""
for _ in $(seq 100); do
  url=$(sed -n 's/^listening on //p' "$scratch/server.out")
  [[ -n "$url" ]] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -n "$url" ]] || {
  echo "the reference seal server did not start:"
  cat "$scratch/server.out"
  exit 1
}

# The test host with both DLLs beside it; Wine sees / as drive Z:.
mkdir "$scratch/run"
cp build/windows-x86_64/tests/kel_windows_tests.exe build/windows-x86_64/bin/Kel.dll \
  build/windows-x86_64/bin/KESTRO.dll "$scratch/run/"
windows_path() { echo "Z:${1//\//\\}"; }
echo "wine: running the Windows test host against $url"
# The first start creates the Wine prefix, which takes several seconds.
timeout 600 /usr/lib/wine/wine64 "$scratch/run/kel_windows_tests.exe" "$url" \
  "$(windows_path "$fixtures")" 2> >(grep -v '^wine: ' >&2)
