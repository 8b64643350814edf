#!/usr/bin/env bash
# Exits 1 and says why when this kernel starts no 32-bit x86 programs, else
# 0: a kernel booted with its 32-bit emulation off
# (ia32_emulation=off) refuses every one of them with "Exec format error",
# Wine's 32-bit loader included, whether or not wine32 is installed.
# The probe is the smallest 32-bit program there is: an ELF header, one
# program header and "exit(0)" (mov eax,1; xor ebx,ebx; int 0x80).
set -euo pipefail
probe=$(mktemp) || { echo "could not tell whether this kernel starts 32-bit programs" >&2; exit 0; }
trap 'rm -f "$probe"' EXIT
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
      `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'`
      `'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'`
      `'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'`
      `'\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00'`
      `'\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
if ! says=$("$probe" 2>&1); then
  # Only the kernel's refusal tells; a probe that could not run for another
  # reason (a temporary folder mounted noexec) leaves the answer to Wine.
  if [[ $says == *"Exec format error"* ]]; then
    echo "this kernel starts no 32-bit programs (Exec format error; 32-bit emulation off?)"
    exit 1
  fi
  echo "could not tell whether this kernel starts 32-bit programs: ${says##*: }" >&2
fi
