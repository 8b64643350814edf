#!/usr/bin/env bash
# Builds the Java binding and its tests with the JDK and runs them against a
# built libkel.so and the reference seal server.
# Usage: bindings/java/run-tests.sh LIBRARY_DIR SEAL_SERVER
#   LIBRARY_DIR  the folder of libkel.so.1 and libkestro.so.1 (build/default/lib)
#   SEAL_SERVER  the kel-seal-server program
# Needs Debian's default-jdk-headless and libjna-java (JNA, /usr/share/java/jna.jar).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/scripts/binding_tests.sh
source "$here/../../tests/scripts/binding_tests.sh" "$@"
jna=${JNA_JAR:-/usr/share/java/jna.jar}

# Java 8 is the newest a 32-bit Windows host is sure to have.
mapfile -t sources < <(find "$here/src/main/java" "$here/tests" -name '*.java' | sort)
javac -Werror -Xlint:all --release 8 -encoding UTF-8 -cp "$jna" -d "$work/classes" "${sources[@]}"
deploy_runtime "$work/lib"

# JNA finds libkel.so.1 on its own search path, jna.library.path.
java -Djna.library.path="$work/lib" -cp "$work/classes:$jna" KelTests "$url" \
  "$here/../../include/kel/kel_messages.h"
# The same library, named by KEL_LIBRARY, where it finds no pubkey.key,
# neither beside it nor in the current folder.
mkdir "$work/bare"
cp "$work/lib/libkel.so.1" "$work/lib/libkestro.so.1" "$work/bare/"
(cd "$work/bare" && KEL_LIBRARY="$work/bare/libkel.so.1" java -cp "$work/classes:$jna" KelTests \
  --without-key)
