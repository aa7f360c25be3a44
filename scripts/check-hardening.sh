#!/usr/bin/env bash
# Reads a built kivlog binary, libkivlog or the Python module and fails, naming what is missing,
# unless it is hardened: a position-independent executable (a shared library is one by nature), full
# RELRO (GNU_RELRO and BIND_NOW), stack canaries (__stack_chk_fail), fortified libc calls (__*_chk)
# and, on x86-64, control-flow protection: the CET property note (IBT and SHSTK). A program whose
# code lies in libkivlog (kivlog itself, a thin main) needs neither canaries nor fortified calls of
# its own: the library, checked on its own, has them. The linker keeps that note only when every
# object linked in has it, and some C libraries' start files (Debian 12's crt1.o and crti.o) have
# none; then the landing pads that -fcf-protection puts at the start of functions (endbr64) stand in
# for it: the one at main, or in a stripped binary their number (a binary built without the option
# holds only the start files' two).
#   scripts/check-hardening.sh <binary>
set -euo pipefail
binary="${1:?usage: $0 <binary>}"
[ -f "$binary" ] || { echo "check-hardening: no file $binary" >&2; exit 2; }

missing=()
header="$(readelf -h -W "$binary")"
segments="$(readelf -l -W "$binary")"
dynamic="$(readelf -d -W "$binary")"
symbols="$(readelf --dyn-syms -W "$binary")"
notes="$(readelf -n -W "$binary")"

library=no
grep -q '(SONAME)' <<<"$dynamic" && ! grep -q 'FLAGS_1.*PIE' <<<"$dynamic" && library=yes
# A Python extension module is a shared object without a SONAME, with code of its own.
module=no
grep -q ' PyInit_' <<<"$symbols" && library=yes && module=yes
thin=no
grep -q 'NEEDED.*\[libkivlog\.so' <<<"$dynamic" && [ $module = no ] && thin=yes

grep -Eq 'Type:[[:space:]]+DYN' <<<"$header" || missing+=("PIE (ELF type is not DYN)")
grep -q 'GNU_RELRO' <<<"$segments" || missing+=("RELRO (no GNU_RELRO segment)")
grep -Eq 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || missing+=("full RELRO (no BIND_NOW)")
if [ $library = no ]; then
  grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || missing+=("PIE (no PIE flag in FLAGS_1)")
fi
fortified="$({ grep -Eo '__[a-z0-9_]+_chk(@| |$)' <<<"$symbols" || true; } | tr -d '@ ' |
  sort -u | paste -sd' ')"
# The Python module makes no libc call whose sizes the compiler knows, so fortification leaves no
# __*_chk call in it to find; its build flags are the library's.
if [ $thin = no ]; then
  grep -q '__stack_chk_fail' <<<"$symbols" || missing+=("stack protector (no __stack_chk_fail)")
  [ -n "$fortified" ] || [ $module = yes ] || missing+=("_FORTIFY_SOURCE (no __*_chk call)")
fi
# Landing pads a stripped file built without -fcf-protection has at most: the start files' two.
pads_without=2
[ $thin = yes ] || [ $library = yes ] || pads_without=19
cet="no"
if [ "$(readelf -h "$binary" | grep -c 'X86-64')" -gt 0 ]; then
  if grep -q 'IBT' <<<"$notes" && grep -q 'SHSTK' <<<"$notes"; then
    cet="property note IBT, SHSTK"
  elif objdump -d --no-show-raw-insn --disassemble=main "$binary" |
      grep -A1 '<main>:' | grep -q endbr64; then
    cet="endbr64 landing pads (no property note: a start file linked in has none)"
  elif [ "$(objdump -d --no-show-raw-insn "$binary" | grep -c endbr64)" -gt $pads_without ]; then
    cet="endbr64 landing pads in a stripped binary (no property note)"
  else
    missing+=("control-flow protection (no CET property note, no endbr64 landing pads)")
  fi
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "check-hardening: $binary is missing:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi
if [ $thin = yes ]; then
  echo "check-hardening: $binary: PIE, full RELRO, its code in libkivlog, CET: $cet"
else
  echo "check-hardening: $binary: $([ $library = yes ] && echo "shared library" || echo PIE), full RELRO, stack protector, fortify (${fortified:-none called}), CET: $cet"
fi
