#!/usr/bin/env bash
# Checks the export surface: the shared library defines exactly the functions
# the public header declares, and the Windows module-definition file lists the
# same names with ordinals 1 to 14 in byte order of the names. With SONAME,
# also that the library's soname is SONAME (libkel.so.MAJOR) and that it needs
# the provider by its soname of the same major version (libkestro.so.MAJOR).
# Usage: check_exports.sh LIBRARY KEL_DEF KEL_H [SONAME]
set -euo pipefail
library=$1 def_file=$2 header=$3 soname=${4:-}
export LC_ALL=C

if [[ -n "$soname" ]]; then
  dynamic=$(readelf -d "$library")
  actual=$(sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p' <<<"$dynamic")
  if [[ "$actual" != "$soname" ]]; then
    echo "the library's soname is \"$actual\", not $soname"
    exit 1
  fi
  provider="libkestro.so.${soname##*.so.}"
  if ! grep -qE "\(NEEDED\).*\[${provider//./\\.}\]" <<<"$dynamic"; then
    echo "the library does not need $provider:"
    grep NEEDED <<<"$dynamic"
    exit 1
  fi
fi

declared=$(grep -oE 'KEL_CALL Kel_[A-Za-z0-9]+' "$header" | awk '{print $2}' | sort)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [[ "$declared" != "$exported" ]]; then
  echo "the library's exports differ from the header's declarations:"
  diff <(echo "$declared") <(echo "$exported") || true
  exit 1
fi

# Names may carry the 32-bit stdcall decoration (Kel_X@N); compare them without.
listed=$(awk '$1 ~ /^Kel_/ {sub(/@[0-9]+$/, "", $1); print $1, $2}' "$def_file")
expected=$(echo "$declared" | awk '{printf "%s @%d\n", $1, NR}')
if [[ "$listed" != "$expected" ]]; then
  echo "Kel.def differs from the names in byte order with ordinals 1 to $(echo "$declared" | wc -l):"
  diff <(echo "$expected") <(echo "$listed") || true
  exit 1
fi
echo "exports: $(echo "$declared" | wc -l) names, library and Kel.def agree${soname:+; soname $soname}"
