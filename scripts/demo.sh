#!/usr/bin/env bash
# The demo: installs what is missing, builds Kel, starts the reference seal
# server on a loopback port, and runs the command-line tool kel against it
# step by step. Stops the server when it ends, also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/bootstrap.sh
echo "Building Kel (build/default) ..."
scripts/build.sh default >/dev/null

bin="$root/build/default/bin"
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

# The server signs with the development keys; port 0 lets the system choose.
"$bin/kel-seal-server" --port 0 \
  --framed-key "$fixtures/dev-only-framed-server-key.pem" \
  --document-key "$fixtures/dev-only-document-server-key.pem" \
  --valid-seal 'S-1=Acme Ltd' >"$work/server.out" &
server_pid=$!
url=
for _ in $(seq 100); do
  url=$(sed -n 's/^listening on //p' "$work/server.out")
  [[ -n "$url" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { echo "the seal server did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$url" ]] || { echo "the seal server printed no URL" >&2; exit 1; }

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

echo
echo "Done; the seal server stops now. More in README.md and docs/."
