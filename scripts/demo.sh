#!/usr/bin/env bash
# The demo: installs what is missing, builds Kel, starts the reference seal
# server on a loopback port, and runs the command-line tool kel against it
# step by step, ending with kel doctor's check of the whole deployment.
# Stops the server when it ends, also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Only what building needs: no test toolset, no Wine.
scripts/bootstrap.sh build
# Its own build folder, with the libraries and the two programs only: no
# test suite or benchmarks, which need more packages and far more time.
build="$root/build/demo"
echo "Building Kel ($build) ..."
log=$(mktemp)
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEL_BUILD_TESTS=OFF -DKEL_BUILD_BENCHMARKS=OFF &&
  cmake --build "$build" --target kel_cli kel-seal-server; } >"$log" 2>&1; then
  # The compiler's or CMake's own words, not just "failed".
  cat "$log" >&2
  rm -f "$log"
  echo "demo: the build failed (above)" >&2
  exit 1
fi
rm -f "$log"

bin="$build/bin"
fixtures="$root/tests/fixtures"
work=$(mktemp -d)
server_pid=
stop_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_server EXIT

# The server signs with the development key, whose public half is built into
# the library and goes into pubkey.key below; port 0 lets the system choose.
# shellcheck source=tests/scripts/seal_server.sh
source tests/scripts/seal_server.sh
start_seal_server "$work/server.out" "$bin/kel-seal-server" \
  --key "$fixtures/dev-only-document-server-key.pem" --valid-seal 'S-1=Acme Ltd' \
  --records "$work/records.txt"
url=$server_url

# Kel checks document answers and timestamps against pubkey.key, which it
# loads beside libkel.so or else from the current folder: kel runs in a
# folder that holds the development key under that name.
cp "$fixtures/dev-only-document-server-key.pub" "$work/pubkey.key"
cd "$work"

bold='' plain=''
if [[ -t 1 ]]; then bold=$'\033[1m' plain=$'\033[0m'; fi
step_number=0
step() {
  step_number=$((step_number + 1))
  printf '\n%s%d. %s%s\n' "$bold" "$step_number" "$1" "$plain"
}

# An argument as a reader would type it: quoted when it needs quotes.
shown() {
  if [[ "$1" =~ ^[A-Za-z0-9_./:=+@-]+$ ]]; then printf ' %s' "$1"; else printf " '%s'" "$1"; fi
}

# kel_expect EXIT_CODE ARGS...: shows the command, runs it, and checks that it
# exits as expected (the demo fails otherwise). Its output is kept in $output.
output=
kel_expect() {
  local expected=$1 status=0
  shift
  printf '$ kel'
  for argument in "$@"; do shown "$argument"; done
  printf '\n'
  output=$("$bin/kel" "$@") || status=$?
  [[ -n "$output" ]] && printf '%s\n' "$output" | sed 's/^/    /'
  if [[ $status -ne $expected ]]; then
    echo "!! kel exited with $status, expected $expected" >&2
    exit 1
  fi
  echo "   (exit code $status)"
}

echo
echo "Reference seal server: $url (seal S-1 of 'Acme Ltd' is valid)"

step "Verify a valid seal: the server answers status 0"
kel_expect 0 verify-seal --url "$url" --name 'Acme Ltd' --id S-1

step "Verify an unknown seal: status 2, a negative verdict (exit code 1)"
kel_expect 1 verify-seal --url "$url" --name 'Acme Ltd' --id S-404

step "Record a use of the seal"
kel_expect 0 send-record --url "$url" --user alice --seal S-1 --remark 'contract 7 signed'
echo "   The server answered \"recorded\" once it had written the line to its record log:"
sed 's/^/    /' "$work/records.txt"

step "Obtain a signed server time for a content text"
content='contract 7'
kel_expect 0 server-time --url "$url" --content "$content"
time=$(sed -n 's/^time: //p' <<<"$output")
signature=$(sed -n 's/^signature: //p' <<<"$output")

step "Verify the timestamp locally, against pubkey.key"
kel_expect 0 verify-timestamp --content "$content" --time "$time" --signature "$signature"

step "A tampered time fails the check (exit code 1)"
if [[ "${time:0:1}" == 1 ]]; then tampered="2${time:1}"; else tampered="1${time:1}"; fi
kel_expect 1 verify-timestamp --content "$content" --time "$tampered" --signature "$signature"

step "Diagnose the deployment end to end: every check holds (kel doctor)"
kel_expect 0 doctor --url "$url"

echo
echo "Done; the seal server stops now. More in README.md and docs/."
