#!/usr/bin/env bash
# Checks the Windows DLLs as built, from their PE tables (objdump -p):
#  - the 32-bit Kel.dll exports exactly the header's names, undecorated, with
#    ordinals 1 to 14 in byte order of the names;
#  - each stdcall export's decorated name (in the object files, the import
#    library and Kel.def) carries 4 x its number of arguments;
#  - Kel.dll imports the six provider functions from KESTRO.dll, and neither
#    DLL imports anything but system DLLs (no MinGW runtime DLL);
#  - DYNAMIC_BASE and NX_COMPAT on every DLL, HIGH_ENTROPY_VA on the 64-bit ones;
#  - the 32-bit Kel.dll lets Windows call its structured-exception handler:
#    not marked NO_SEH, and the handler listed in its SafeSEH table if it has one.
# Usage: check_windows_dlls.sh I686_BUILD X86_64_BUILD   (from the source tree)
set -euo pipefail
i686_build=$1 x86_64_build=$2
header=include/kel/kel.h def_file=src/Kel.def
export LC_ALL=C
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# "name count" for every export of the header, in byte order of the names.
declared=$(tr '\n' ' ' <"$header" | grep -oE 'KEL_CALL +Kel_[A-Za-z0-9]+ *\([^)]*\)' |
  sed -E 's/KEL_CALL +(Kel_[A-Za-z0-9]+) *\((.*)\)/\1 \2/' |
  awk '{name = $1; $1 = ""; args = $0; gsub(/^ +| +$/, "", args)
        count = (args == "" || args == "void") ? 0 : split(args, parts, ",")
        print name, count}' | sort)
[[ $(echo "$declared" | wc -l) -eq 14 ]] || fail "the header does not declare 14 exports"

# ---- The 32-bit Kel.dll's export table -----------------------------------
kel32="$i686_build/bin/Kel.dll"
dump=$(i686-w64-mingw32-objdump -p "$kel32")
base=$(echo "$dump" | awk '/^Ordinal Base/ {print $3}')
functions=$((16#$(echo "$dump" | awk '!seen && /^\tExport Address Table/ {print $4; seen = 1}')))
exported=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -nE 's/^\t\[ *([0-9]+)\] (.*)$/\2 @\1/p' | awk -v base="$base" '{sub(/@/, "", $2); print $1, "@" $2 + base}')
expected=$(echo "$declared" | awk '{printf "%s @%d\n", $1, NR}')
if [[ "$exported" != "$expected" ]]; then
  fail "Kel.dll (32-bit) exports differ from the names with ordinals 1 to 14:"
  diff <(echo "$expected") <(echo "$exported") || true
fi
[[ "$functions" == 14 ]] || fail "Kel.dll (32-bit) has $functions entries in its export address table"

# ---- Decorated names: @ and 4 x the number of arguments -------------------
decorated=$(echo "$declared" | awk '{printf "%s@%d\n", $1, 4 * $2}')
objects=$(find "$i686_build/src/CMakeFiles/kel_objects.dir" -name '*.obj')
# shellcheck disable=SC2086
in_objects=$(i686-w64-mingw32-nm --defined-only $objects | awk '$2 == "T" && $3 ~ /^_Kel_/ {print substr($3, 2)}' | sort -u)
[[ "$in_objects" == "$decorated" ]] ||
  { fail "decorated names in the object files:"; diff <(echo "$decorated") <(echo "$in_objects") || true; }
in_implib=$(i686-w64-mingw32-nm "$i686_build/src/libKel.dll.a" | awk '$2 == "T" && $3 ~ /^_Kel_/ {print substr($3, 2)}' | sort -u)
[[ "$in_implib" == "$decorated" ]] ||
  { fail "decorated names in the import library:"; diff <(echo "$decorated") <(echo "$in_implib") || true; }
in_def=$(awk '$1 ~ /^Kel_/ {print $1}' "$def_file" | sort)
[[ "$in_def" == "$decorated" ]] ||
  { fail "decorated names in Kel.def:"; diff <(echo "$decorated") <(echo "$in_def") || true; }

# ---- Imports and hardening, both targets ----------------------------------
# What a plain Windows installation has, and the provider beside Kel.dll.
system_dlls='^(kernel32|msvcrt|shlwapi|wininet|advapi32|bcrypt|user32|ws2_32|kestro)\.dll$'
provider=$(printf '%s\n' AES_Decryption AES_Decryption_CH AES_Encryption ECDSA_Verify_CH Ecc_Free Gen_Random_String)
for target in i686 x86_64; do
  build=$i686_build
  [[ $target == x86_64 ]] && build=$x86_64_build
  for dll in Kel KESTRO; do
    dump=$("$target-w64-mingw32-objdump" -p "$build/bin/$dll.dll")
    for imported in $(echo "$dump" | awk '/DLL Name:/ {print $3}'); do
      echo "$imported" | tr 'A-Z' 'a-z' | grep -qE "$system_dlls" ||
        fail "$target $dll.dll imports $imported"
    done
    characteristics=$((16#$(echo "$dump" | awk '/^DllCharacteristics/ {print $2}')))
    required=$((0x40 | 0x100))  # DYNAMIC_BASE, NX_COMPAT
    [[ $target == x86_64 ]] && required=$((required | 0x20))  # HIGH_ENTROPY_VA
    (( (characteristics & required) == required )) ||
      fail "$target $dll.dll DllCharacteristics $(printf 0x%x "$characteristics") lack $(printf 0x%x "$required")"
  done
  from_provider=$("$target-w64-mingw32-objdump" -p "$build/bin/Kel.dll" |
    sed -n '/DLL Name: KESTRO.dll/,/^$/p' | awk 'NR > 2 && NF >= 3 {print $3}' | sort)
  [[ "$from_provider" == "$provider" ]] ||
    { fail "$target Kel.dll imports from KESTRO.dll:"; diff <(echo "$provider") <(echo "$from_provider") || true; }
done

# ---- Structured exceptions in the 32-bit Kel.dll ---------------------------
# The provider guard puts _kel_seh_handler on the thread's handler chain.
# Windows calls no handler of an image marked NO_SEH, and of an image with a
# SafeSEH table (load configuration, SEHandlerTable) only the ones it lists.

# The n 32-bit words at virtual address va of a PE file, in hex: pe_words FILE VA N
pe_words() {
  local size vma off offset=""
  while read -r _ _ size vma _ off _; do
    if (($2 >= 16#$vma && $2 < 16#$vma + 16#$size)); then
      offset=$(($2 - 16#$vma + 16#$off))
      break
    fi
  done < <(i686-w64-mingw32-objdump -h "$1" | awk '$1 ~ /^[0-9]+$/')
  [[ -n "$offset" ]] && od -An -v -tx4 --endian=little -j "$offset" -N $((4 * $3)) "$1"
}
dump=$(i686-w64-mingw32-objdump -p "$kel32")
characteristics=$((16#$(echo "$dump" | awk '/^DllCharacteristics/ {print $2}')))
if ((characteristics & 0x400)); then
  fail "the 32-bit Kel.dll is marked NO_SEH: Windows would never call the provider guard's handler"
fi
image_base=$((16#$(echo "$dump" | awk '/^ImageBase/ {print $2}')))
config_rva=$((16#$(echo "$dump" | awk '/^Entry a / {print $3}')))
safeseh="no load configuration, so no SafeSEH table"
if ((config_rva != 0)); then
  # IMAGE_LOAD_CONFIG_DIRECTORY32: Size first, SEHandlerTable (a virtual
  # address) and SEHandlerCount at bytes 0x40 and 0x44.
  read -r -a config <<<"$(pe_words "$kel32" $((image_base + config_rva)) 18 | tr '\n' ' ')"
  table=0 count=0
  if ((${#config[@]} == 18 && 16#${config[0]} >= 0x48)); then
    table=$((16#${config[16]})) count=$((16#${config[17]}))
  fi
  safeseh="a load configuration without a SafeSEH table"
  if ((table != 0)); then
    handler=$(i686-w64-mingw32-nm "$kel32" | awk '$3 == "_kel_seh_handler" {print $1}')
    listed=""
    ((count > 0)) && listed=$(pe_words "$kel32" "$table" "$count" | tr ' ' '\n')
    if [[ -z "$handler" ]]; then
      fail "the 32-bit Kel.dll has a SafeSEH table, and no symbol _kel_seh_handler to look for in it"
    elif ! echo "$listed" | grep -qix "$(printf %08x $((16#$handler - image_base)))"; then
      fail "the 32-bit Kel.dll's SafeSEH table ($count handlers) lacks _kel_seh_handler:" \
        "Windows would refuse the provider guard's handler"
    fi
    safeseh="_kel_seh_handler listed in its SafeSEH table of $count"
  fi
fi

if ((failures > 0)); then
  echo "windows dlls: $failures check(s) failed"
  exit 1
fi
echo "windows dlls: Kel.dll exports the 14 names with ordinals 1-14 (stdcall @4n in the objects)," \
  "imports the 6 provider functions from KESTRO.dll and system DLLs only; both DLLs of both targets hardened;" \
  "the 32-bit Kel.dll is not NO_SEH and has $safeseh"
