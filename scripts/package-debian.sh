#!/usr/bin/env bash
# Builds the Debian packages of this source tree into dist/:
#   libkel1     libkel.so.1 and libkestro.so.1 in the multiarch library folder
#               (no pubkey.key: a deployment installs its own beside libkel.so.1)
#   libkel-dev  the headers, libkel.so and libkestro.so, kel.pc, the CMake package
#   kel-tools   kel and kel-seal-server with their manual pages, and (while the
#               built-in key is the development key) the development key pair
#               in /usr/share/kel/dev-keys
# and their -dbgsym packages, then checks them with lintian.
#
# The tree is copied into build/package-debian-ARCH/, packaging/debian/ becomes
# its debian/ folder, and dpkg-buildpackage builds it with debhelper. The
# version is the project's (project() in CMakeLists.txt); the packages'
# dependencies come from the libraries they link (${shlibs:Depends}).
#
# Usage: scripts/package-debian.sh [--server-key FILE] [--dist DIR] [ARCH]
#   ARCH               a Debian architecture; default: this machine's (amd64).
#                      Another one is cross-built (dpkg-buildpackage -a); arm64
#                      is tested (scripts/bootstrap.sh test installs its cross
#                      compiler and build dependencies). The script stops when
#                      they are missing and names them.
#   --server-key FILE  the server's public key text (289 characters), built
#                      into libkel; the development key pair is then left out.
#                      Default: the development key, whose private half is public.
#   --dist DIR         where the packages go (default dist)
# Needs debhelper, dpkg-dev and lintian (scripts/bootstrap.sh test), and for
# arm64 also crossbuild-essential-arm64 and the :arm64 development packages
# with pkg-config:arm64 (whose aarch64-linux-gnu-pkg-config the build calls).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=dist server_key="" arch=""
usage="usage: $0 [--server-key FILE] [--dist DIR] [ARCH]"
while [[ $# -gt 0 ]]; do
  case $1 in
    --server-key) server_key=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --dist) dist=$2; shift 2 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) [[ -z "$arch" ]] || { echo "$usage" >&2; exit 2; }; arch=$1; shift ;;
  esac
done
build_arch=$(dpkg --print-architecture)
arch=${arch:-$build_arch}
jobs="${KEL_BUILD_JOBS:-2}"
export LC_ALL=C

version=$(scripts/version.sh --released)
dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH >/dev/null 2>&1 ||
  { echo "$arch is no Debian architecture" >&2; exit 2; }

work="$root/build/package-debian-$arch"
src="$work/kel-$version"
rm -rf "$work"
mkdir -p "$src" "$dist"
tar -C "$root" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./dist \
  -cf - . | tar -C "$src" -xf -
cp -r packaging/debian "$src/debian"
rm -rf "$src/packaging"

# The date of the last change (the newest commit, else now), so that the same
# tree builds the same packages.
date=$(git log -1 --format=%cD 2>/dev/null || date -R)
maintainer=${KEL_DEB_MAINTAINER:-"Kel authors <kel@example.org>"}
sed -i "s|@MAINTAINER@|$maintainer|" "$src/debian/control"
cat >"$src/debian/changelog" <<EOF
kel ($version) unstable; urgency=medium

  * Kel $version (its changes: CHANGELOG.md in the source tree).

 -- $maintainer  $date
EOF
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: Kel"
  echo
  echo "Files: *"
  echo "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)"
  echo "License: Expat"
  sed -n '/^Permission is hereby granted/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$src/debian/copyright"
if [[ -n "$server_key" ]]; then
  echo "-DKEL_BUILTIN_SERVER_KEY=$(tr -d '\r\n' <"$server_key")" >"$src/debian/cmake-args"
  sed -i '\|usr/share/kel/dev-keys|d' "$src/debian/kel-tools.install"
fi

# Another architecture is cross-built; the script names what is missing
# before it starts rather than failing somewhere in the build.
cross=()
if [[ "$arch" != "$build_arch" ]]; then
  cross=(-a"$arch")
  triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
  missing=$(cd "$src" && dpkg-checkbuilddeps -a"$arch" 2>&1 | sed 's/.*Unmet build dependencies://') || true
  command -v "$triplet-g++" >/dev/null || missing+=" $triplet-g++ (crossbuild-essential-$arch)"
  command -v "$triplet-pkg-config" >/dev/null || missing+=" $triplet-pkg-config (pkg-config:$arch)"
  if [[ -n "$missing" ]]; then
    echo "building for $arch on $build_arch needs:$missing" >&2
    exit 1
  fi
fi

echo "building the Debian packages of Kel $version for $arch in $work"
(cd "$src" && dpkg-buildpackage -b -us -uc -j"$jobs" "${cross[@]}") >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log"; echo "dpkg-buildpackage failed; the whole log: $work/build.log" >&2; exit 1; }

debs=()
for package in libkel1 libkel-dev kel-tools libkel1-dbgsym kel-tools-dbgsym; do
  deb="$work/${package}_${version}_${arch}.deb"
  [[ -f "$deb" ]] || { echo "dpkg-buildpackage made no $(basename "$deb")" >&2; exit 1; }
  debs+=("$deb")
done

# lintian: no errors and no warnings. At the informational level it notes
# that the libraries have no symbols files (the shlibs file with the release
# as the lowest version stands in for them, as debian/rules says) and that
# the development keys' README lies outside /usr/share/doc (it belongs with
# the keys it describes).
lintian --fail-on error,warning "${debs[@]}"

cp "${debs[@]}" "$dist/"
for deb in "${debs[@]}"; do
  echo "$dist/$(basename "$deb")"
  dpkg-deb --field "$deb" Depends | sed 's/^/  Depends: /'
done
