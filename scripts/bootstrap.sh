#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kel need (the
# Windows cross build and Wine, fuzzing and valgrind included), the ones that
# are missing only. Usage: scripts/bootstrap.sh
# Afterwards: scripts/build.sh default (Linux), scripts/build-windows.sh
# (Kel.dll and KESTRO.dll for 32- and 64-bit Windows), scripts/test.sh.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libssl-dev openssl libcurl4-openssl-dev
  libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 libgcrypt-mingw-w64-dev wine64
  clang libclang-rt-14-dev valgrind
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bootstrap: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "bootstrap: these Debian packages are missing and this user is not root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
else
  sudo_cmd=()
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
