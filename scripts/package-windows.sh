#!/usr/bin/env bash
# Builds the Windows packages: dist/kel-<version>-win32.zip (i686, the shipped
# 32-bit product) and dist/kel-<version>-win64.zip (x86_64). Each holds
#   Kel.dll, KESTRO.dll, kel.exe   stripped; their debug information in
#                                  *.debug beside them (linked by .gnu_debuglink)
#   include/kel/                   kel.h and kel_messages.h
#   lib/Kel.lib                    import library for Microsoft's linker
#   lib/libKel.dll.a               import library for MinGW
#   lib/Kel.def                    the exports with their ordinals
#   pubkey.key                     the DEVELOPMENT server key (see README.txt)
#   bindings/dotnet/Kel.cs         the C# binding
#   bindings/java/                 the Java binding (sources and README)
#   bindings/pascal/               the Delphi and Free Pascal unit (and README)
#   examples/                      one small program per language (C, C#, Java, Pascal)
#   docs/, README.txt, LICENSE, CHANGELOG.md, licenses/
# and the zip's file list is printed.
#
# Usage: scripts/package-windows.sh [--server-key FILE] [--build-root DIR] [--dist DIR]
#                                   [i686|x86_64]...   (both when none given)
#   --server-key FILE  the server's public key text (289 characters): built into
#                      Kel.dll and shipped as pubkey.key. Default: the development
#                      key, whose private half is public (tests/fixtures).
#   --build-root DIR   where the builds go (DIR/package-windows-<target>; default build)
#   --dist DIR         where the zips go (default dist)
# Needs mingw-w64, llvm-14 (llvm-dlltool-14, llvm-nm-14) and zip.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_root=build dist=dist server_key=""
targets=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --server-key) server_key=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --build-root) build_root=$2; shift 2 ;;
    --dist) dist=$2; shift 2 ;;
    i686 | x86_64) targets+=("$1"); shift ;;
    *) echo "usage: $0 [--server-key FILE] [--build-root DIR] [--dist DIR] [i686|x86_64]..." >&2; exit 2 ;;
  esac
done
[[ ${#targets[@]} -eq 0 ]] && targets=(i686 x86_64)
jobs="${KEL_BUILD_JOBS:-2}"
export LC_ALL=C

version=$(scripts/version.sh --released)
# The public headers hold ASCII only: a compiler that reads them in a
# double-byte code page could otherwise take a line end into a comment.
if grep -nP '[^\x00-\x7F]' include/kel/*.h; then
  echo "the public headers above hold non-ASCII bytes" >&2
  exit 1
fi

dev_key="$root/tests/fixtures/dev-only-document-server-key.pub"
key_file=${server_key:-$dev_key}
key_text=$(tr -d '\r\n' <"$key_file")
key_options=()
[[ -n "$server_key" ]] && key_options=(-DKEL_BUILTIN_SERVER_KEY="$key_text")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)

# Copies a PE file into the package stripped, its debug information into
# NAME.debug beside it, and links the two.
strip_into() {
  local prefix=$1 file=$2 stage=$3 name
  name=$(basename "$file")
  "$prefix-objcopy" --only-keep-debug "$file" "$stage/$name.debug"
  "$prefix-objcopy" --strip-debug --strip-unneeded "$file" "$stage/$name"
  (cd "$stage" && "$prefix-objcopy" --add-gnu-debuglink="$name.debug" "$name")
}

for target in "${targets[@]}"; do
  case $target in
    i686) suffix=win32 machine=i386 imp=__imp__Kel_VerifySeal@24 ;;
    x86_64) suffix=win64 machine=i386:x86-64 imp=__imp_Kel_VerifySeal ;;
  esac
  prefix=$target-w64-mingw32
  build="$build_root/package-windows-$target"
  echo "=== $suffix: building in $build"
  # Release code with debug information, which the package keeps apart.
  cmake -S . -B "$build" -G Ninja --toolchain "$root/cmake/toolchains/mingw-$target.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-g -DCMAKE_CXX_FLAGS=-g \
    -DKEL_BUILD_TESTS=OFF -DKEL_BUILD_BENCHMARKS=OFF "${key_options[@]}" >"$work/configure.log" ||
    { cat "$work/configure.log"; exit 1; }
  cmake --build "$build" -j "$jobs" --target kel kestro kel_cli

  name="kel-$version-$suffix"
  stage="$work/$name"
  mkdir -p "$stage/include/kel" "$stage/lib" "$stage/docs" "$stage/bindings/dotnet" "$stage/bindings/pascal" \
    "$stage/bindings/java" "$stage/examples" "$stage/licenses"
  for file in "$build/bin/Kel.dll" "$build/bin/KESTRO.dll" "$build/bin/kel.exe"; do
    strip_into "$prefix" "$file" "$stage"
  done
  cp include/kel/kel.h include/kel/kel_messages.h "$stage/include/kel/"

  # Kel.def as the DLL was linked: decorated stdcall names on 32-bit (the DLL
  # exports them undecorated), plain names on 64-bit.
  if [[ $target == i686 ]]; then
    cp src/Kel.def "$stage/lib/Kel.def"
    kill_at=(-k)
  else
    cp "$build/src/Kel.def" "$stage/lib/Kel.def"
    kill_at=()
  fi
  # Kel.lib for Microsoft's linker. On 32-bit, -k makes each import bind the
  # decorated name a host's compiler emits (_Kel_VerifySeal@24) to the
  # undecorated export (Kel_VerifySeal).
  llvm-dlltool-14 -m "$machine" "${kill_at[@]}" -d "$stage/lib/Kel.def" -D Kel.dll \
    -l "$stage/lib/Kel.lib"
  if ! llvm-nm-14 "$stage/lib/Kel.lib" 2>/dev/null | grep -qF " $imp"; then
    echo "Kel.lib lacks $imp" >&2
    exit 1
  fi
  if [[ $target == i686 ]] &&
    [[ $(llvm-readobj-14 "$stage/lib/Kel.lib" | grep -c '^Name type: undecorate$') -ne 14 ]]; then
    echo "Kel.lib does not bind all 14 decorated names to undecorated exports" >&2
    exit 1
  fi
  cp "$build/src/libKel.dll.a" "$stage/lib/libKel.dll.a"

  cp "$key_file" "$stage/pubkey.key"
  cp README.md LICENSE CHANGELOG.md "$stage/"
  mv "$stage/README.md" "$stage/docs/README.md"
  cp docs/api.md docs/protocol.md docs/security.md "$stage/docs/"
  cp bindings/dotnet/Kel.cs "$stage/bindings/dotnet/"
  cp bindings/pascal/Kel.pas bindings/pascal/README.md "$stage/bindings/pascal/"
  cp -r bindings/java/src "$stage/bindings/java/"
  cp bindings/java/README.md "$stage/bindings/java/"
  cp examples/example.c "$stage/examples/"
  cp -r examples/csharp examples/java examples/pascal "$stage/examples/"
  # KESTRO.dll carries libgcrypt and libgpg-error (LGPL-2.1-or-later).
  for package in libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev; do
    cp "/usr/share/doc/$package/copyright" "$stage/licenses/${package%-mingw-w64-dev}.txt"
  done
  if [[ -z "$server_key" ]]; then
    key_note="This package is built with the DEVELOPMENT server key: Kel.dll trusts it for
framed answers and pubkey.key holds it. Its private half is public (Kel's
tests/fixtures), so anyone can sign answers this build accepts: use it with the
reference seal server only. For a deployment, build with your server's key:
scripts/package-windows.sh --server-key YOUR-KEY.pub"
  else
    key_note="Kel.dll and pubkey.key carry the server key $(basename "$server_key")."
  fi
  if [[ $target == i686 ]]; then
    bits="32-bit"
    convention="The exports are __stdcall, undecorated, with ordinals 1 to 14 (lib/Kel.def)."
    import_note="lib/Kel.lib and lib/libKel.dll.a are ready to link. An import library made
from lib/Kel.def needs -k (--kill-at), which binds each decorated name that
a compiler emits (_Kel_VerifySeal@24) to the undecorated export:
  dlltool -k -d lib/Kel.def -D Kel.dll -l libKel.dll.a
  llvm-dlltool -m i386 -k -d lib/Kel.def -D Kel.dll -l Kel.lib
Without -k the import library names Kel_VerifySeal@24, which Kel.dll does not
export: the program links, then fails to load Kel.dll's functions. Microsoft's
lib /def: has no such option: with Microsoft's linker, use lib/Kel.lib."
  else
    bits="64-bit"
    convention="The exports have ordinals 1 to 14 (lib/Kel.def)."
    import_note="lib/Kel.lib and lib/libKel.dll.a are ready to link. To make an import library
from lib/Kel.def: dlltool -d lib/Kel.def -D Kel.dll -l libKel.dll.a"
  fi
  sed 's/$/\r/' >"$stage/README.txt" <<EOF
Kel $version for $bits Windows

Put Kel.dll and KESTRO.dll beside your program, and pubkey.key beside Kel.dll.
$convention
C and C++: include/kel/kel.h; link lib/Kel.lib (Microsoft's linker) or
lib/libKel.dll.a (MinGW). C#: bindings/dotnet/Kel.cs. Java (JNA 5):
bindings/java/. Delphi and Free Pascal: bindings/pascal/Kel.pas. Each binding's
README.md says more. examples/ holds one small program per language, with its
build command at its top. The library's messages, their meaning and the
exports that give them: include/kel/kel_messages.h.
kel.exe calls the library from the command line (kel.exe --help).
docs/api.md describes every export.

$import_note

$key_note

*.debug hold the debug information of the DLLs and kel.exe (DWARF, for gdb).
Kel is under the MIT licence (LICENSE); KESTRO.dll contains libgcrypt and
libgpg-error, under the LGPL (licenses/).
EOF

  rm -f "$dist/$name.zip"
  (cd "$work" && find "$name" | sort | zip -q -X -@ "$dist/$name.zip")
  echo "=== $dist/$name.zip"
  unzip -l "$dist/$name.zip"
  rm -rf "$stage"
done
