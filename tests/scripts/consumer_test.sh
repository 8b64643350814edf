#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, then builds the consumer
# project in tests/consumer against it twice, through find_package(Kel) and
# through pkg-config, and runs both builds.
# Usage: consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR C_COMPILER [EXTRA_FLAGS]
# EXTRA_FLAGS (for example the sanitizer flags of the tree) go to both
# compiling and linking the consumer.
set -euo pipefail
build_dir=$1 source_dir=$2 compiler=$3 extra_flags=${4:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }
for file in include/kel/kel.h lib/libkel.so lib/libkestro.so bin/kel bin/kel-seal-server \
            lib/cmake/Kel/KelConfig.cmake lib/pkgconfig/kel.pc; do
  [[ -e "$prefix/$file" ]] || { echo "not installed: $file"; exit 1; }
done
# The installed programs find the installed libraries by themselves.
"$prefix/bin/kel" random >/dev/null

echo "--- find_package(Kel)"
cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$compiler" -DCMAKE_C_FLAGS="$extra_flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$extra_flags" >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/cmake-build/kel_consumer"

echo "--- pkg-config kel"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
libdir=$(pkg-config --variable=libdir kel)
# shellcheck disable=SC2046,SC2086  # the flags are lists of words
"$compiler" $extra_flags -o "$work/kel_consumer_pc" "$source_dir/consumer.c" \
  $(pkg-config --cflags --libs kel) -Wl,-rpath,"$libdir"
"$work/kel_consumer_pc"
echo "pkg-config: Kel $(pkg-config --modversion kel)"
