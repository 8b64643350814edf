#!/usr/bin/env bash
# What the bindings' test scripts share. Sourced by each with its arguments:
#   source tests/scripts/binding_tests.sh LIBRARY_DIR SEAL_SERVER
#     LIBRARY_DIR  the folder of libkel.so.1 and libkestro.so.1 (build/default/lib)
#     SEAL_SERVER  the kel-seal-server program
# It gives
#   $work            a temporary folder, removed on exit (the server stopped first)
#   $library_dir     LIBRARY_DIR as an absolute path
#   $url             the URL of a reference seal server it started: the development
#                    key, its test hooks, the seals S-1 (Acme Ltd) and S-8 (张三)
#   deploy_runtime DIR
#                    copies the runtime files only, as a deployment has them (no
#                    libkel.so link), with the development server key beside them
#                    as pubkey.key
#   build_pascal SOURCE OUTPUT [FPC OPTION]...
#                    builds a Free Pascal program against the library, warnings
#                    and notes as errors, linked as against an installed tree
_kel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
_kel_fixtures="$_kel_root/tests/fixtures"
library_dir=$(cd "$1" && pwd)

work=$(mktemp -d)
server_pid=""
_kel_cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap _kel_cleanup EXIT

deploy_runtime() {
  mkdir -p "$1"
  cp -L "$library_dir/libkel.so.1" "$library_dir/libkestro.so.1" "$1/"
  cp "$_kel_fixtures/dev-only-document-server-key.pub" "$1/pubkey.key"
}

# -lkel through a development link libkel.so, which records libkel.so.1 as
# the library to load.
build_pascal() {
  local source=$1 output=$2
  shift 2
  if [[ ! -e "$work/link/libkel.so" ]]; then
    mkdir -p "$work/link"
    ln -s "$library_dir/libkel.so.1" "$work/link/libkel.so"
  fi
  mkdir -p "$(dirname "$output")"
  fpc "$@" -Sewn -vwn -l- -FU"$(dirname "$output")" -Fu"$_kel_root/bindings/pascal" \
    -Fl"$work/link" -k-rpath-link="$library_dir" -o"$output" "$source" |
    grep -vE '^(Target OS|Compiling|Linking|[0-9]+ lines compiled)' || true
  [[ -x "$output" ]] || { echo "$(basename "$source") did not build ($*)"; exit 1; }
}

# shellcheck source=tests/scripts/seal_server.sh
source "$_kel_root/tests/scripts/seal_server.sh"
start_seal_server "$work/server.out" "$2" --key "$_kel_fixtures/dev-only-document-server-key.pem" \
  --test-hooks --valid-seal 'S-1=Acme Ltd' --valid-seal 'S-8=张三'
# shellcheck disable=SC2034  # used by the script that sources this one
url=$server_url
