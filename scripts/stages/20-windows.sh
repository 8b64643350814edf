#!/usr/bin/env bash
# Windows: builds Kel.dll and KESTRO.dll for 32-bit and 64-bit Windows,
# checks their PE tables, and runs the Windows test programs under wine32
# (i686, the shipped DLL) and wine64 (x86_64) against the reference seal
# server running natively on loopback. Each target runs the suite twice, from
# a folder whose name is not ASCII: once in code page 936 (a GBK name) and
# once in code page 1252. Prints one result line per run and a total.
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/build-windows.sh
tests/scripts/check_windows_dlls.sh build/windows-i686 build/windows-x86_64

# wine32's loader is itself a 32-bit program: if it cannot start, neither
# can the shipped DLL's test host. A kernel whose 32-bit emulation is switched
# off (ia32_emulation=off, an "Exec format error") cannot run it at all: the
# 32-bit DLLs are then built and checked statically only, and the stage says
# so in its last line. A missing wine32 is a fault of the machine's set-up.
targets=(i686 x86_64)
not_run=""
if ! wine32_says=$(/usr/lib/wine/wine --version 2>&1); then
  if [[ $wine32_says != *"Exec format error"* ]]; then
    echo "windows: wine32 does not start: $wine32_says"
    echo "(install wine32:i386: scripts/bootstrap.sh test)"
    exit 1
  fi
  targets=(x86_64)
  not_run="; i686 NOT RUN: this kernel starts no 32-bit programs (32-bit emulation off)"
  echo "windows: this kernel starts no 32-bit programs, so the 32-bit Kel.dll is built and" \
    "checked statically but not run"
fi

server=build/asan/bin/kel-seal-server
proxy=build/asan/bin/kel-answer-dropping-proxy
[[ -x "$server" && -x "$proxy" ]] || {
  cmake --preset asan >/dev/null
  cmake --build --preset asan --target kel-seal-server kel-answer-dropping-proxy
}

scratch=$(mktemp -d)
server_pid=""
server_pids=()
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
# No Mono or Gecko installer prompts when the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  # A program ended by the signal reports it in its status: not a failure.
  for pid in "${server_pids[@]}" $server_pid; do
    kill "$pid" 2>/dev/null && { wait "$pid" 2>/dev/null || true; }
  done
  [[ -d "$WINEPREFIX" ]] && { /usr/lib/wine/wineserver64 -k 2>/dev/null || true; }
  rm -rf "$scratch"
}
trap cleanup EXIT

fixtures="$PWD/tests/fixtures"
# shellcheck source=tests/scripts/seal_server.sh
source tests/scripts/seal_server.sh
start_seal_server "$scratch/server.out" "$server" --valid-seal S-1=Acme --test-hooks \
  --key "$fixtures/dev-only-document-server-key.pem"
url=$server_url
server_pids+=("$server_pid")
# A server on the IPv6 loopback, for URLs such as http://[::1]:PORT/.
start_seal_server "$scratch/server-ipv6.out" "$server" --host ::1 --valid-seal S-1=Acme \
  --key "$fixtures/dev-only-document-server-key.pem"
server_pids+=("$server_pid")
export KEL_TEST_IPV6_URL=$server_url
# A forward proxy in front of the first server, which kel_windows_tests.exe
# names in http_proxy for a process of its own.
main_port=${url##*:}
start_seal_server "$scratch/forward-proxy.out" "$proxy" --upstream-port "${main_port%/}" \
  --drop-answer 0
server_pids+=("$server_pid")
export KEL_TEST_FORWARD_PROXY=$server_url

# Wine takes the ANSI code page from the locale's name, but converts
# non-ASCII file names only when glibc can load that locale: generate both.
locales="$scratch/locales"
mkdir "$locales"
localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8"
localedef -i fr_FR -f UTF-8 "$locales/fr_FR.UTF-8"
export LOCPATH="$locales"

windows_path() { echo "Z:${1//\//\\}"; }
loader() { [[ $1 == i686 ]] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64; }

# https: three more servers, with certificates made now from a test CA: one
# for localhost (Wine checks a certificate's DNS names only, not its IP
# addresses), one for another name, and one signed by itself.
# kel_tls_tests.exe puts the CA into the scratch prefix's Root store while it
# runs, and finds the servers in these variables.
tls="$scratch/tls"
tests/scripts/make_test_certificates.sh "$tls"
start_tls_server() {
  start_seal_server "$scratch/tls-$1.out" "$server" --valid-seal S-1=Acme \
    --key "$fixtures/dev-only-document-server-key.pem" --tls-cert "$tls/$1.pem" --tls-key "$tls/$1.key"
  server_pids+=("$server_pid")
  tls_url=${server_url/https:\/\/127.0.0.1/https:\/\/localhost}
}
start_tls_server server && export KEL_TEST_HTTPS_URL=$tls_url
start_tls_server wrong-name && export KEL_TEST_WRONG_NAME_URL=$tls_url
start_tls_server self-signed && export KEL_TEST_SELF_SIGNED_URL=$tls_url
KEL_TEST_CA_FILE=$(windows_path "$tls/ca.pem")
export KEL_TEST_CA_FILE

# Records of use sent at most once: a server that keeps its records, behind a
# proxy that closes each client connection instead of passing on the second
# answer on it (the server has written that record by then).
# kel_windows_tests.exe counts its remarks in the records file.
records="$scratch/records.txt"
start_seal_server "$scratch/records-server.out" "$server" --valid-seal S-1=Acme \
  --key "$fixtures/dev-only-document-server-key.pem" --records "$records"
server_pids+=("$server_pid")
records_port=${server_url##*:}
# The proxy takes --port 0 too (and ignores it), and says where it listens
# the way the server does.
start_seal_server "$scratch/proxy.out" "$proxy" --upstream-port "${records_port%/}"
server_pids+=("$server_pid")
proxy_url=$server_url
KEL_TEST_PROXY_RECORDS=$(windows_path "$records")
export KEL_TEST_PROXY_URL=$proxy_url KEL_TEST_PROXY_RECORDS

# Runs one Windows test program: copies it with the DLLs into a fresh folder
# named $folder, runs it there in locale $locale with the server's URL, the
# fixtures folder and the expected code page, and reprints its result line
# prefixed by $label. The first run creates the Wine prefix (about 20 s).
failed=0
passed_total=0
failed_total=0
run_program() {
  local target=$1 program=$2 locale=$3 codepage=$4 folder=$5 label=$6
  local run="$scratch/$folder"
  mkdir -p "$run"
  cp "build/windows-$target/tests/$program" "build/windows-$target/bin/Kel.dll" \
    "build/windows-$target/bin/KESTRO.dll" "$run/"
  # The provider fault tests run Kel.dll over the stand-in provider built with
  # them, which forwards to the real one renamed kestro-real.dll.
  if [[ $program == kel_provider_fault_tests.exe ]]; then
    mv "$run/KESTRO.dll" "$run/kestro-real.dll"
    cp "build/windows-$target/tests/KESTRO.dll" "$run/"
  fi
  # The code page is chosen per process; a fresh wineserver keeps nothing over.
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  local status=0
  LANG="$locale" LC_ALL="$locale" timeout 600 "$(loader "$target")" "$run/$program" "$url" \
    "$(windows_path "$fixtures")" "$codepage" >"$scratch/$label.out" \
    2> >(grep -v '^wine: ' >&2) || status=$?
  # Failures in full; passing cases and the program's own count are left out.
  tr -d '\r' <"$scratch/$label.out" | grep -avE '^\[ OK \]|^[0-9]+ passed, [0-9]+ failed$' || true
  local result
  result=$(tr -d '\r' <"$scratch/$label.out" | grep -aE '^[0-9]+ passed, [0-9]+ failed$' | tail -1 || true)
  if [[ -z "$result" ]]; then
    echo "$label: did not finish (exit code $status)"
    failed=1
    failed_total=$((failed_total + 1))
    return
  fi
  echo "$label: $result"
  [[ $status -eq 0 ]] || failed=1
  passed_total=$((passed_total + $(echo "$result" | cut -d' ' -f1)))
  failed_total=$((failed_total + $(echo "$result" | cut -d' ' -f3)))
}

echo "wine: running the Windows test programs against $url"
for target in "${targets[@]}"; do
  run_program "$target" kel_windows_tests.exe zh_CN.UTF-8 936 "电子印章-$target" "$target-cp936"
  run_program "$target" kel_windows_tests.exe fr_FR.UTF-8 1252 "café€-$target" "$target-cp1252"
  # A provider that raises structured exceptions, in a folder of its own so
  # that no other program loads the stand-in.
  run_program "$target" kel_provider_fault_tests.exe zh_CN.UTF-8 936 "故障-$target" "$target-faults"
  # https through WinINet, trusting a test CA in the scratch prefix only.
  run_program "$target" kel_tls_tests.exe fr_FR.UTF-8 1252 "https-$target" "$target-https"
  # The WinINet transport's total deadline, against servers of its own.
  run_program "$target" kel_transport_deadline_tests.exe fr_FR.UTF-8 1252 "deadline-$target" \
    "$target-deadline"
done
# The Windows packages, each smoke-tested under wine32/wine64 from a folder
# named 电子印章; this is also where the i686 kel.exe runs.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
scripts/package-windows.sh
for zip in dist/kel-*-win32.zip dist/kel-*-win64.zip; do
  [[ $zip == *-win32.zip && ${targets[0]} != i686 ]] && continue
  status=0
  tests/scripts/package_smoke.sh "$zip" "$server" \
    >"$scratch/package.out" 2>&1 || status=$?
  result=$(grep -aE '^[0-9]+ passed, [0-9]+ failed$' "$scratch/package.out" | tail -1 || true)
  if [[ -z "$result" || $status -ne 0 ]]; then
    cat "$scratch/package.out"
    echo "$(basename "$zip"): did not pass (exit code $status)"
    failed=1
  fi
  echo "$(basename "$zip" .zip): ${result:-no result}"
  if [[ -n "$result" ]]; then
    passed_total=$((passed_total + $(echo "$result" | cut -d' ' -f1)))
    failed_total=$((failed_total + $(echo "$result" | cut -d' ' -f3)))
  fi
done

echo "windows: $passed_total passed, $failed_total failed$not_run"
[[ $failed -eq 0 && $failed_total -eq 0 ]]
