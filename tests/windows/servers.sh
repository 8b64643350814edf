#!/usr/bin/env bash
# What the Windows test programs run against, as ctest's windows_servers
# fixture:
#   servers.sh start RUN_DIR NATIVE_TOOLS_DIR LOADER
#     checks that LOADER (wine or wine64) starts, creates RUN_DIR afresh with a Wine prefix, the zh_CN and fr_FR locales,
#     test certificates, and reference seal servers (native Linux programs
#     from NATIVE_TOOLS_DIR) on loopback, and writes RUN_DIR/servers.env,
#     which run_in_wine.sh reads: the prefix and the servers' URLs;
#   servers.sh stop RUN_DIR
#     stops the servers and Wine, and removes RUN_DIR.
set -euo pipefail
action=$1 run=$(realpath -m "$2")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

stop() {
  if [[ -f "$run/pids" ]]; then
    while read -r pid; do
      kill "$pid" 2>/dev/null || true
    done <"$run/pids"
  fi
  if [[ -d "$run/prefix" ]]; then
    WINEPREFIX="$run/prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  fi
  rm -rf "$run"
}
if [[ $action == stop ]]; then
  stop
  exit 0
fi

tools=$3 loader=$4
# A kernel with its 32-bit emulation switched off starts no 32-bit program,
# wine32's loader included. Then no test of the target can run: the fixture
# fails, so ctest reports them not run rather than passed.
if ! loader_says=$("$loader" --version 2>&1); then
  if ! why=$("$(dirname "$0")/starts_32bit_programs.sh"); then
    echo "NOT RUN: $why"
  else
    echo "$loader does not start: $loader_says (scripts/bootstrap.sh test installs Wine)"
  fi
  exit 1
fi
server=$tools/kel-seal-server
proxy=$tools/kel-answer-dropping-proxy
[[ -x "$server" && -x "$proxy" ]] || {
  echo "no $server or $proxy: build them natively first" \
    "(cmake --preset asan && cmake --build --preset asan --target kel-seal-server" \
    "kel-answer-dropping-proxy), or set KEL_NATIVE_TOOLS_DIR"
  exit 1
}
stop
mkdir -p "$run/folders"
env_file=$run/servers.env
windows_path() { echo "Z:${1//\//\\}"; }
exported() { printf 'export %s=%q\n' "$1" "$2" >>"$env_file"; }

# The servers outlive this script: their output goes to files, so that ctest
# does not wait for them, and their ids to run/pids for stop.
# shellcheck source=tests/scripts/seal_server.sh
source "$source_dir/tests/scripts/seal_server.sh"
fixtures=$source_dir/tests/fixtures
key=$fixtures/dev-only-document-server-key.pem
started() { echo "$server_pid" >>"$run/pids"; }
start_seal_server "$run/server.out" "$server" --valid-seal S-1=Acme --test-hooks --key "$key"
started
url=$server_url
exported KEL_TEST_SERVER_URL "$url"
exported KEL_TEST_FIXTURES "$(windows_path "$fixtures")"
# A server on the IPv6 loopback, for URLs such as http://[::1]:PORT/.
start_seal_server "$run/server-ipv6.out" "$server" --host ::1 --valid-seal S-1=Acme --key "$key"
started
exported KEL_TEST_IPV6_URL "$server_url"
# A forward proxy in front of the first server, which kel_windows_tests.exe
# names in http_proxy for a process of its own.
main_port=${url##*:}
start_seal_server "$run/forward-proxy.out" "$proxy" --upstream-port "${main_port%/}" --drop-answer 0
started
exported KEL_TEST_FORWARD_PROXY "$server_url"

# https: three more servers, with certificates made now from a test CA: one
# for localhost (Wine checks a certificate's DNS names only, not its IP
# addresses), one for another name, and one signed by itself.
tls=$run/tls
"$source_dir/tests/scripts/make_test_certificates.sh" "$tls" >/dev/null
start_tls_server() {
  start_seal_server "$run/tls-$1.out" "$server" --valid-seal S-1=Acme --key "$key" \
    --tls-cert "$tls/$1.pem" --tls-key "$tls/$1.key"
  started
  exported "$2" "${server_url/https:\/\/127.0.0.1/https:\/\/localhost}"
}
start_tls_server server KEL_TEST_HTTPS_URL
start_tls_server wrong-name KEL_TEST_WRONG_NAME_URL
start_tls_server self-signed KEL_TEST_SELF_SIGNED_URL
exported KEL_TEST_CA_FILE "$(windows_path "$tls/ca.pem")"

# Records of use sent at most once: a server that keeps its records, behind a
# proxy that closes each client connection instead of passing on the second
# answer on it (the server has written that record by then).
records=$run/records.txt
start_seal_server "$run/records-server.out" "$server" --valid-seal S-1=Acme --key "$key" \
  --records "$records"
started
records_port=${server_url##*:}
start_seal_server "$run/proxy.out" "$proxy" --upstream-port "${records_port%/}"
started
exported KEL_TEST_PROXY_URL "$server_url"
exported KEL_TEST_PROXY_RECORDS "$(windows_path "$records")"

# Wine takes the ANSI code page from the locale's name, but converts
# non-ASCII file names only when glibc can load that locale: generate both.
mkdir "$run/locales"
localedef -i zh_CN -f UTF-8 "$run/locales/zh_CN.UTF-8"
localedef -i fr_FR -f UTF-8 "$run/locales/fr_FR.UTF-8"
exported LOCPATH "$run/locales"

# One prefix for the run, created here (about 20 s) rather than by the
# first tests at once. A prefix made by wine64 hosts 32-bit programs too.
# No Mono or Gecko installer prompts.
exported WINEPREFIX "$run/prefix"
exported WINEDEBUG -all
exported WINEDLLOVERRIDES "mscoree,mshtml="
# shellcheck source=/dev/null
source "$env_file"
mkdir "$run/prefix"
# A wineserver that stays until stop, started with its output in a file: one
# that a test started would keep ctest waiting on that test's output.
/usr/lib/wine/wineserver64 -p >"$run/wineboot.out" 2>&1
/usr/lib/wine/wine64 wineboot -i >>"$run/wineboot.out" 2>&1 || {
  cat "$run/wineboot.out"
  exit 1
}
echo "servers at $url; Wine prefix in $run/prefix"
