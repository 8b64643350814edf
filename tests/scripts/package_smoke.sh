#!/usr/bin/env bash
# Smoke test of a Windows package (scripts/package-windows.sh): unzips it into
# a folder whose name is not ASCII (电子印章, in code page 936) and runs its
# kel.exe there under Wine against the reference seal server: the versions
# read from the DLLs' version resources, verdicts (a Chinese holder name
# included), a recorded use, a server time checked against the package's
# pubkey.key and a tampered one failing, and binary data through standard
# input and output; a program compiled for Microsoft's toolchain and
# linked by lld-link against the package's lib/Kel.lib alone; and programs
# linked by MinGW's gcc against import libraries made from lib/Kel.def.
# Prints a line per check and "N passed, N failed".
#
# Usage: package_smoke.sh ZIP SEAL_SERVER [SERVER_KEY_PEM]
#   SERVER_KEY_PEM  the private half of the package's pubkey.key (default: the
#                   development key, as packages are built by default)
# Environment: WINEPREFIX (default: a fresh one, removed afterwards).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
server=$2
key=${3:-$root/tests/fixtures/dev-only-document-server-key.pem}

case $(basename "$zip") in
  *-win32.zip)
    wine=/usr/lib/wine/wine msvc_target=i686-pc-windows-msvc mingw=i686-w64-mingw32
    dlltool_machine=i386 kill_at=(-k) entry=_entry
    ;;
  *-win64.zip)
    wine=/usr/lib/wine/wine64 msvc_target=x86_64-pc-windows-msvc mingw=x86_64-w64-mingw32
    dlltool_machine=i386:x86-64 kill_at=() entry=entry
    ;;
  *) echo "not a Windows package: $zip" >&2; exit 2 ;;
esac
version=$(basename "$zip" | sed -E 's/^kel-(.*)-win(32|64)\.zip$/\1/')

scratch=$(mktemp -d)
server_pid=""
own_prefix=0
if [[ -z "${WINEPREFIX:-}" ]]; then
  export WINEPREFIX="$scratch/prefix"
  own_prefix=1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ $own_prefix -eq 1 && -d "$WINEPREFIX" ]] && /usr/lib/wine/wineserver64 -k 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# Wine takes the ANSI code page (936) from the locale's name, and converts
# non-ASCII file names only when glibc can load that locale.
mkdir "$scratch/locales"
localedef -i zh_CN -f UTF-8 "$scratch/locales/zh_CN.UTF-8"
export LOCPATH="$scratch/locales"
loader=(env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$wine")

# A wineserver left running in a shared prefix keeps its processes' settings.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true

folder="$scratch/电子印章"
mkdir "$folder"
unzip -q "$zip" -d "$folder"
package="$folder/$(basename "$zip" .zip)"
[[ -f "$package/kel.exe" ]] || { echo "no kel.exe in $zip" >&2; exit 1; }

# shellcheck source=tests/scripts/seal_server.sh
source "$here/seal_server.sh"
start_seal_server "$scratch/server.out" "$server" --key "$key" --valid-seal 'S-1=Acme Ltd' \
  --valid-seal 'S-8=张三' --records "$scratch/records"
url=$server_url

passed=0 failed=0
# kel ARGS...: runs kel.exe in the package's folder; its output is kept in
# $output as UTF-8 and its exit code in $status. Text for people comes in the
# ANSI code page (GBK here), as Windows programs write to a pipe; JSON
# (--json first) in UTF-8.
output="" status=0
kel() {
  local encoding=GBK
  [[ $1 == --json ]] && encoding=UTF-8
  status=0
  output=$(cd "$package" && "${loader[@]}" ./kel.exe "$@" 2> >(grep -av '^wine: ' >&2)) || status=$?
  output=$(iconv -f "$encoding" -t UTF-8 <<<"$output" | tr -d '\r')
}
# check NAME CONDITION...: counts and prints one check.
check() {
  local name=$1
  shift
  if "$@"; then
    echo "[ OK ] $name"
    passed=$((passed + 1))
  else
    echo "[FAIL] $name (exit code $status): $output"
    failed=$((failed + 1))
  fi
}
has() { [[ $status -eq $1 && "$output" == *"$2"* ]]; }

echo "package_smoke: $(basename "$zip") in $package, server $url"
kel --version
check "versions from the version resources" \
  has 0 "kel $version"$'\n'"library: $version (Z:$(echo "$package" | tr / '\\')\\Kel.dll)"$'\n'"provider: $version ("
kel verify-seal --url "$url" --name 'Acme Ltd' --id S-1
check "a valid seal" has 0 $'valid: yes\nstatus: 0\ndescription: valid seal'
kel verify-seal --url "$url" --name 'Acme Ltd' --id S-404
check "an unknown seal" has 1 'status: 2'
kel --json verify-seal --url "$url" --name '张三' --id S-8
check "a Chinese holder name, sent as GBK" has 0 '"valid":true,"status":0'
kel send-record --url "$url" --user alice --seal S-1 --remark '合同 7'
check "a recorded use" has 0 'result: 0,0,recorded'
check "the record's remark, as GBK" grep -q $'\talice\tS-1\t合同 7$' "$scratch/records"

kel --json server-time --url "$url" --content 'contract 7'
time=$(sed -nE 's/.*"time":"([^"]*)".*/\1/p' <<<"$output")
signature=$(sed -nE 's/.*"signature":"([^"]*)".*/\1/p' <<<"$output")
check "a server time" has 0 '"source":"server"'
kel verify-timestamp --content 'contract 7' --time "$time" --signature "$signature"
check "the time verifies against the package's pubkey.key" has 0 'verified: yes'
kel verify-timestamp --content 'contract 8' --time "$time" --signature "$signature"
check "other content does not verify" has 1 'verified: no'

# Line feeds, a carriage return and Ctrl-Z pass standard input and output
# untouched (no text-mode translation).
status=0
output=$(cd "$package" && printf 'A\nB\r\n\032' | "${loader[@]}" ./kel.exe base64 encode 2>/dev/null) || status=$?
check "binary standard input" has 0 'QQpCDQoa'
status=0
output=$(cd "$package" && echo QQpCDQoa | "${loader[@]}" ./kel.exe base64 decode 2>/dev/null | od -An -tx1 | tr -d ' \n') ||
  status=$?
check "binary standard output" has 0 '410a420d0a1a'

if command -v lld-link-14 >/dev/null && command -v clang >/dev/null; then
  clang --target="$msvc_target" -ffreestanding -fno-stack-protector -O1 \
    -I"$package/include" -c "$here/package_linkcheck.c" -o "$scratch/linkcheck.obj"
  lld-link-14 /nologo /entry:entry /subsystem:console /nodefaultlib \
    /out:"$package/linkcheck.exe" "$scratch/linkcheck.obj" "$package/lib/Kel.lib"
  status=0
  output=$(cd "$package" && "${loader[@]}" ./linkcheck.exe 2>/dev/null) || status=$?
  check "a program linked by lld-link against Kel.lib" has 0 ''
else
  echo "[FAIL] lld-link-14 or clang is missing (Debian's lld-14 and clang)"
  failed=$((failed + 1))
fi

# Import libraries made from lib/Kel.def as README.txt says (-k on 32-bit), by
# MinGW's dlltool and by llvm-dlltool: a program linked against each by
# MinGW's gcc runs. Without -k, the 32-bit one imports decorated names.
# link_from_def NAME DLLTOOL...: links $package/NAME.exe that way.
link_from_def() {
  local name=$1
  shift
  "$@" -d "$package/lib/Kel.def" -D Kel.dll -l "$scratch/$name.a"
  "$mingw-gcc" -ffreestanding -fno-stack-protector -O1 -nostdlib -Wl,-e,"$entry" \
    -I"$package/include" "$here/package_linkcheck.c" "$scratch/$name.a" -o "$package/$name.exe"
}
for tool in "$mingw-dlltool" llvm-dlltool-14; do
  flags=("${kill_at[@]}")
  [[ $tool == llvm-* ]] && flags+=(-m "$dlltool_machine")
  link_from_def "from-def-$tool" "$tool" "${flags[@]}"
  status=0
  output=$(cd "$package" && "${loader[@]}" "./from-def-$tool.exe" 2>/dev/null) || status=$?
  check "a program linked against an import library made from Kel.def by $tool" has 0 ''
done
if [[ ${#kill_at[@]} -gt 0 ]]; then
  link_from_def without-k "$mingw-dlltool"
  status=0
  output=$("$mingw-objdump" -p "$package/without-k.exe") || status=$?
  check "without -k the import library names Kel_VerifySeal@24" has 0 'Kel_VerifySeal@24'
fi

status=0
missing=$(cd "$package" && for file in bindings/dotnet/Kel.cs bindings/java/README.md \
  bindings/java/src/main/java/kel/KelClient.java bindings/pascal/Kel.pas examples/example.c \
  examples/csharp/VerifySeal.cs examples/java/VerifySeal.java examples/pascal/verify_seal.pas; do
  [[ -f $file ]] || echo "$file"
done)
output="missing: $missing"
check "the bindings and an example per language" test -z "$missing"
# The C example, built by MinGW against the package's header and import library.
"$mingw-gcc" -Wall -Werror -I"$package/include" "$package/examples/example.c" \
  "$package/lib/libKel.dll.a" -o "$package/example.exe"
output=$(cd "$package" && "${loader[@]}" ./example.exe 2>/dev/null | tr -d '\r') || status=$?
check "the C example, linked against lib/libKel.dll.a" has 0 'decoded back: 11 bytes, "Kel example"'

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
