#!/usr/bin/env bash
# Measures what a kivlog statement costs in the target's flash, on the sample's Cortex-M3 at -Os:
# the code and literal of one call (a function of 32 statements against the same function without
# them), and what the sample images load with the default layout and with the in-flash one.
#   bash examples/firmware/flash-size.sh [FOLDER]   FOLDER: a build of build.sh (its scratch folder
#                                                   by default), for the sample's figures
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "${here}/../.." && pwd)"
work="${1:-${root}/build/firmware-sample}"
probe="$(mktemp -d)"
trap 'rm -rf "${probe}"' EXIT

cflags=(-mcpu=cortex-m3 -mthumb -Os -std=c99 -ffunction-sections -fdata-sections -Wall -Wextra
  -Werror -pedantic -I "${root}/firmware/include" -DKIVLOG_CORE=0)

# text_bytes SOURCE: the bytes of code and read-only data (what goes to flash) of one object.
text_bytes() {
  arm-none-eabi-gcc "${cflags[@]}" -c "$1" -o "${probe}/probe.o"
  arm-none-eabi-size -A "${probe}/probe.o" |
    awk '$1 ~ /^\.(text|rodata)/ { sum += $2 } END { print sum + 0 }'
}

# probe VALUES COUNT: a function that logs COUNT statements of VALUES values each.
probe() {
  local values="$1" count="$2" i args=""
  [ "${values}" -ge 1 ] && args=", a"
  [ "${values}" -ge 2 ] && args=", a, b"
  {
    echo '#include "kivlog/kivlog.h"'
    echo 'void probe(uint32_t a, uint32_t b);'
    echo 'void probe(uint32_t a, uint32_t b) {'
    echo '  (void)a;'
    echo '  (void)b;'
    for ((i = 0; i < count; ++i)); do
      printf '  KIVLOG(KIVLOG_INFO1, "statement %d%s\\n"%s);\n' "$i" \
        "$([ "${values}" -ge 1 ] && printf ' %%u')$([ "${values}" -ge 2 ] && printf ' %%u')" "${args}"
    done
    echo '}'
  } >"${probe}/probe.c"
  text_bytes "${probe}/probe.c"
}

echo "| values | flash bytes per statement (code and literal) |"
echo "|---|---|"
for values in 0 1 2; do
  base="$(probe "${values}" 0)"
  with="$(probe "${values}" 32)"
  awk -v b="${base}" -v w="${with}" -v v="${values}" 'BEGIN { printf "| %d | %.1f |\n", v, (w - b) / 32 }'
done

if [ -f "${work}/umac-combined.elf" ]; then
  # loaded IMAGE: the bytes the target loads (allocated sections with contents).
  loaded() {
    arm-none-eabi-objcopy -O binary "$1" "${probe}/image.bin"
    stat -c %s "${probe}/image.bin"
  }
  section() {
    arm-none-eabi-size -A "$1" | awk -v s="$2" '$1 == s { print $2 }'
  }
  echo
  echo "| sample image | statements | loaded bytes, default layout | loaded bytes, in flash | kivlog section |"
  echo "|---|---|---|---|---|"
  for core in umac lmac; do
    statements=$(find "${here}/${core}/src" -name '*.c' -exec cat {} + | grep -c 'KIVLOG\(_CR\)\?(')
    echo "| ${core} | ${statements} | $(loaded "${work}/${core}-combined.elf") | $(loaded "${work}/${core}-flash.elf") | $(section "${work}/${core}-combined.elf" .kivlog) |"
  done
fi
