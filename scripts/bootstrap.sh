#!/usr/bin/env bash
# Installs the Debian packages that Kel needs, the ones that are missing only.
# Usage: scripts/bootstrap.sh [build|test]
#   build  building the libraries, kel and the reference seal server (what
#          scripts/demo.sh needs)
#   test   (the default) the whole test toolset on top: the test and benchmark
#          libraries, the Windows cross build, 32- and 64-bit Wine and the
#          locales its code-page tests generate, the Windows packages' tools,
#          Mono, the JDK with JNA, Free Pascal and pytest for the bindings,
#          fuzzing, valgrind, and the Debian packages' tools
# Afterwards: scripts/build.sh default (Linux), scripts/build-windows.sh
# (Kel.dll and KESTRO.dll for 32- and 64-bit Windows), scripts/test.sh.
set -euo pipefail

profile=${1:-test}
# Seconds to wait for another apt or dpkg to finish (KEL_APT_LOCK_WAIT).
lock_wait=${KEL_APT_LOCK_WAIT:-600}
build_packages=(
  build-essential cmake pkg-config ninja-build
  libssl-dev openssl libcurl4-openssl-dev
  libcpp-httplib-dev libcli11-dev
)
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 libgcrypt-mingw-w64-dev
  wine64 wine32:i386 locales
  # Wine's TLS (schannel under WinINet) runs on GnuTLS, which Wine only recommends.
  libgnutls30 libgnutls30:i386
  clang libclang-rt-14-dev valgrind
  # The Windows packages: import libraries (llvm-dlltool-14), the link check
  # (lld-link-14), the zips.
  llvm-14 lld-14 zip unzip
  # The C# binding under Mono (code page 936 comes with the CJK encodings).
  mono-mcs mono-runtime libmono-i18n-cjk4.0-cil
  # The Java binding: the JDK and JNA.
  default-jdk-headless libjna-java
  # The Pascal binding under Free Pascal (its RTL brings cwstring and cthreads).
  fp-compiler fp-units-rtl
  # The Python binding: installed offline with pip alone, also into a bare
  # virtual environment (python3-venv) by its tests.
  python3-pip python3-venv python3-pytest
  # The Debian packages: built with debhelper, checked by lintian, their manual
  # pages shown by man.
  debhelper lintian man-db
)
case $profile in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  # A package installed for two architectures (libgnutls30 and
  # libgnutls30:i386) reports its status once for each.
  status=$(dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | sort -u || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bootstrap: installing ${missing[*]}"
echo "bootstrap: (waits up to ${lock_wait}s for another apt or dpkg to finish)"
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
# wine32 (which runs the shipped 32-bit Kel.dll) comes from the i386
# architecture; apt then keeps the amd64 packages both share in step.
if [[ " ${missing[*]} " == *":i386 "* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
# apt waits for dpkg's locks by itself, up to DPkg::Lock::Timeout; not for the
# package lists' lock that another "apt-get update" holds: that is retried.
apt_get() {
  "${sudo_cmd[@]}" env LC_ALL=C apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@"
}
waited=0
until errors=$(apt_get update -qq 2>&1); do
  if [[ $errors != *"Could not get lock"* || $waited -ge $lock_wait ]]; then
    echo "$errors" >&2
    exit 1
  fi
  echo "bootstrap: another apt holds the package lists; waiting (${waited}s so far)"
  sleep 10
  waited=$((waited + 10))
done
[[ -n "$errors" ]] && echo "$errors" >&2
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
