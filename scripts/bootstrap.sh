#!/usr/bin/env bash
# Installs the Debian packages that Kel needs, the ones that are missing only.
# Usage: scripts/bootstrap.sh [build|test]
#   build  building the libraries, kel and the reference seal server (what
#          scripts/demo.sh needs)
#   test   (the default) the whole test toolset on top: the test and benchmark
#          libraries, the Windows cross build, 32- and 64-bit Wine and the
#          locales its code-page tests generate, the Windows packages' tools,
#          Mono, the JDK with JNA, Free Pascal and pytest for the bindings,
#          fuzzing, valgrind, the Debian packages' tools, and the ARM64
#          cross build with qemu-user
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
  # Linux on ARM64: the cross compiler, the arm64 libraries to link against,
  # and qemu-user to run what it builds (binfmt: started by exec as well).
  crossbuild-essential-arm64 qemu-user qemu-user-binfmt
  libssl-dev:arm64 libcurl4-openssl-dev:arm64 libcpp-httplib-dev:arm64 libgtest-dev:arm64
  # (pkg-config:arm64 brings aarch64-linux-gnu-pkg-config, which the
  # Debian packages' cross build calls)
  pkg-config:arm64
)
case $profile in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

# wine32 runs only where the kernel starts 32-bit programs. Elsewhere it is
# not installed: the i386 package lists it would need can only get in the way
# (a mirror caught mid-sync in them holds back every other architecture's).
if [[ $profile == test ]] && ! why=$("$(dirname "$0")/../tests/windows/starts_32bit_programs.sh"); then
  echo "bootstrap: $why, so wine32 is left out"
  kept=()
  for package in "${packages[@]}"; do
    [[ $package == *:i386 ]] || kept+=("$package")
  done
  packages=("${kept[@]}")
fi

missing=()
native=$(dpkg --print-architecture)
for package in "${packages[@]}"; do
  # A name without an architecture means this machine's (or "all"): dpkg
  # answers for every architecture the package is installed for, and
  # libcurl4-openssl-dev:arm64 alone must not count as libcurl4-openssl-dev.
  name=${package%%:*} arch=${package#"$name"}
  arch=${arch#:}
  dpkg-query -W -f='${Architecture} ${Status}\n' "$name" 2>/dev/null |
    grep -qE "^(${arch:-$native|all}) install ok installed\$" || missing+=("$package")
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
# architecture, the cross build's libraries from arm64; apt then keeps the
# packages they share with amd64 in step.
for arch in i386 arm64; do
  if [[ " ${missing[*]} " == *":$arch "* ]] &&
    ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
  fi
done
# apt waits for dpkg's locks by itself, up to DPkg::Lock::Timeout; not for the
# package lists' lock that another "apt-get update" holds: that is retried.
# A mirror caught mid-sync serves an index of the wrong size: that is retried
# a few times too, and then the install goes on with the lists apt has (it
# fails on its own if a package cannot be found or fitted).
apt_get() {
  "${sudo_cmd[@]}" env LC_ALL=C apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@"
}
waited=0
fetch_tries=0
until errors=$(apt_get update -qq 2>&1); do
  if [[ $errors == *"Could not get lock"* && $waited -lt $lock_wait ]]; then
    echo "bootstrap: another apt holds the package lists; waiting (${waited}s so far)"
  elif [[ $errors == *"Failed to fetch"* && $fetch_tries -lt 4 ]]; then
    fetch_tries=$((fetch_tries + 1))
    echo "bootstrap: a package list did not download; trying again (${fetch_tries} of 4)"
  elif [[ $errors == *"Failed to fetch"* ]]; then
    echo "bootstrap: going on with the package lists at hand:" >&2
    break
  else
    echo "$errors" >&2
    exit 1
  fi
  sleep 10
  waited=$((waited + 10))
done
[[ -n "$errors" ]] && echo "$errors" >&2
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
