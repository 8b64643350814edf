#!/usr/bin/env bash
# Installs a built tree into a temporary prefix (or takes a Kel installed
# already), then builds the consumer project in tests/consumer against it
# twice, through find_package(Kel) and through pkg-config, and runs both builds.
# Usage: consumer_test.sh BUILD_DIR|--installed=PREFIX CONSUMER_SOURCE_DIR C_COMPILER [EXTRA_FLAGS]
# EXTRA_FLAGS (for example the sanitizer flags of the tree) go to both
# compiling and linking the consumer.
set -euo pipefail
tree=$1 source_dir=$2 compiler=$3 extra_flags=${4:-}

work=$(mktemp -d)
server_pid=
trap '[[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=tests/scripts/installed_tree.sh
source "$(dirname "$0")/installed_tree.sh"
use_installed_tree "$tree" "$work"
for file in "$prefix"/include/kel/{kel.h,kel_messages.h} "$prefix"/bin/{kel,kel-seal-server} \
            "$libdir"/{libkel.so,libkestro.so,libkel.so.1,libkestro.so.1} \
            "$libdir"/{cmake/Kel/KelConfig.cmake,pkgconfig/kel.pc}; do
  [[ -e "$file" ]] || { echo "not installed: ${file#"$prefix"/}"; exit 1; }
done
# The installed programs find the installed libraries by themselves.
"$prefix/bin/kel" random >/dev/null

# With the development keys installed beside them, the installed server and
# kel work together away from the source tree: a time obtained in either
# format verifies against the installed pubkey.key, and a verdict verifies in
# either format (framed ones against the key built into the library).
keys="$prefix/share/kel/dev-keys"
for file in pubkey.key dev-only-server-key.pem README.txt; do
  [[ -e "$keys/$file" ]] || { echo "not installed: share/kel/dev-keys/$file"; exit 1; }
done
mkdir "$work/run"
cp "$keys/pubkey.key" "$work/run/"
# shellcheck source=tests/scripts/seal_server.sh
source "$(dirname "$0")/seal_server.sh"
start_seal_server "$work/server.out" "$prefix/bin/kel-seal-server" \
  --key "$keys/dev-only-server-key.pem" --valid-seal S-1=Acme
url=$server_url
for format in document framed; do
  stamp=$(cd "$work/run" && "$prefix/bin/kel" server-time --url "${url}x?format=$format" --content c)
  (cd "$work/run" && "$prefix/bin/kel" verify-timestamp --content c \
    --time "$(sed -n 's/^time: //p' <<<"$stamp")" \
    --signature "$(sed -n 's/^signature: //p' <<<"$stamp")" >/dev/null) ||
    { echo "a $format time from the installed server does not verify"; exit 1; }
  (cd "$work/run" && "$prefix/bin/kel" verify-seal --url "${url}x?format=$format" --name Acme \
    --id S-1 >/dev/null) || { echo "a $format verdict from the installed server failed"; exit 1; }
done
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=
echo "installed server and kel: times and verdicts verify in both formats"

echo "--- find_package(Kel)"
cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$compiler" -DCMAKE_C_FLAGS="$extra_flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$extra_flags" >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/cmake-build/kel_consumer"

echo "--- pkg-config kel"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
libdir=$(pkg-config --variable=libdir kel)
# shellcheck disable=SC2046,SC2086  # the flags are lists of words
"$compiler" $extra_flags -o "$work/kel_consumer_pc" "$source_dir/consumer.c" \
  $(pkg-config --cflags --libs kel) -Wl,-rpath,"$libdir"
"$work/kel_consumer_pc"
# The program calls libkel only: the provider is libkel's own dependency.
if readelf -d "$work/kel_consumer_pc" | grep -q 'NEEDED.*libkestro'; then
  echo "kel.pc links the program against libkestro too"
  exit 1
fi
echo "pkg-config: Kel $(pkg-config --modversion kel)"
