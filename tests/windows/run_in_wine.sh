#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest: the Windows builds'
# CMAKE_CROSSCOMPILING_EMULATOR, so ctest calls it as
#   run_in_wine.sh LOADER PROGRAM.exe ARGS...
# with LOADER /usr/lib/wine/wine (i686) or /usr/lib/wine/wine64 (x86_64).
# It copies the program with Kel.dll and KESTRO.dll into a fresh folder named
# KEL_TEST_FOLDER (a name that is not ASCII) and runs it there in the locale
# KEL_TEST_LOCALE, in the Wine prefix and with the servers that servers.sh
# started (their URLs in run/servers.env beside the programs). With
# KEL_TEST_STAND_IN_PROVIDER set, that DLL is the program's KESTRO.dll and
# the real one lies beside it as kestro-real.dll.
# Exits 77 (ctest: skipped) when this kernel starts no 32-bit programs.
set -euo pipefail
loader=$1 program=$2
shift 2
tests_dir=$(cd "$(dirname "$program")" && pwd)
build=$(dirname "$tests_dir")
run=$tests_dir/run

# A kernel whose 32-bit emulation is switched off starts no 32-bit program,
# wine32's loader included: the test did not run, and says so. A loader that
# does not start for any other reason is a fault of the machine's set-up.
if ! loader_says=$("$loader" --version 2>&1); then
  if ! why=$("$(dirname "$0")/starts_32bit_programs.sh"); then
    echo "NOT RUN: $why"
    exit 77
  fi
  echo "$loader does not start: $loader_says (scripts/bootstrap.sh test installs Wine)" >&2
  exit 1
fi
[[ -f "$run/servers.env" ]] || {
  echo "no servers: run the tests through ctest (the windows_servers fixture)" >&2
  exit 1
}
# shellcheck source=/dev/null
source "$run/servers.env"

folder=$(mktemp -d "$run/folders/${KEL_TEST_FOLDER:-run}-XXXXXX")
trap 'rm -rf "$folder"' EXIT
cp "$program" "$build/bin/Kel.dll" "$build/bin/KESTRO.dll" "$folder/"
if [[ -n "${KEL_TEST_STAND_IN_PROVIDER:-}" ]]; then
  mv "$folder/KESTRO.dll" "$folder/kestro-real.dll"
  cp "$KEL_TEST_STAND_IN_PROVIDER" "$folder/KESTRO.dll"
fi

# Wine takes the ANSI code page from the locale's name; LOCPATH holds the
# generated locales, without which non-ASCII file names would not convert.
locale=${KEL_TEST_LOCALE:-C.UTF-8}
status=0
LANG=$locale LC_ALL=$locale "$loader" "$folder/$(basename "$program")" "$@" \
  2> >(grep -av '^wine: ' >&2) | tr -d '\r' || status=$?
exit "$status"
