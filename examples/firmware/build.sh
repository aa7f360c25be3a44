#!/usr/bin/env bash
# Builds the two-core sample firmware with the kivlog kit (its CMake project, CMakeLists.txt), runs
# the cores under QEMU, turns their wire-format captures into host log lines with kivlog-uart,
# composes the raw host log and decodes it with kivlog; the one-core image the same way.
#
#   bash examples/firmware/build.sh          rewrites the committed results beside this script:
#                                            the ELF files, raw.log, one-core.log, capture.bin
#                                            and expected/
#   bash examples/firmware/build.sh --check  does the same in a scratch folder and fails when the
#                                            decoded text differs from the committed expected/
#                                            (addresses may move between compiler versions)
#
# Both modes also check every decoded line against the C library's printf: the same firmware
# sources, built for the host with KIVLOG_PRINTF, print what each statement should show.
# As root it installs the cross toolchain, QEMU and the build tools when they are missing;
# otherwise it prints the apt-get line to run.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "${here}/../.." && pwd)"
mode="${1:-write}"
case "${mode}" in
  write | --check) ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

packages=(gcc-arm-none-eabi binutils-arm-none-eabi qemu-system-arm gcc-multilib)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi
bash "${root}/scripts/deps.sh" demo

kivlog="${root}/build/release/kivlog"
cmake -S "${root}" -B "${root}/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKIVLOG_TESTS=OFF >/dev/null
cmake --build "${root}/build/release" --target kivlog kivlog-uart -j 2 >/dev/null
uart="${root}/build/release/kivlog-uart"

work="${root}/build/firmware-sample"
rm -rf "${work}"
mkdir -p "${work}/obj" "${work}/run"

# The images: the sample's CMake project, built with the kit's CMake package. The package takes
# the file names the statements store relative to this folder, so that they are the same on every
# machine.
cd "${here}"
kit="${root}/firmware"
cmake -S "${here}" -B "${work}/cmake" -G Ninja -DCMAKE_TOOLCHAIN_FILE="${here}/platform/arm-none-eabi.cmake" \
  -Dkivlog-firmware_DIR="${kit}/cmake" >/dev/null
cmake --build "${work}/cmake" -j 2 >/dev/null
for image in umac-combined lmac-combined umac lmac umac-flash lmac-flash one-core kiv_log kiv_log-flash; do
  cp "${work}/cmake/${image}.elf" "${work}/"
done
umac_sources=(umac/src/main.c umac/src/scan.c umac/src/connection/roaming_candidate_scoring.c)
lmac_sources=(lmac/src/main.c lmac/src/rx.c lmac/src/phy/calibration/rx_gain_table.c)

# The default layout keeps every string kivlog reads out of what the target loads: no format
# string or file name of the kivlog section (what follows its zero word, block and version record)
# is in the flash image objcopy makes. Only the loadable copy of the version fields is.
for core in umac lmac; do
  arm-none-eabi-objcopy -O binary "${work}/${core}-combined.elf" "${work}/${core}.bin"
  arm-none-eabi-objcopy --dump-section .kivlog="${work}/${core}-strings.bin" \
    "${work}/${core}-combined.elf"
  found=0
  while IFS= read -r text; do
    if [ "${#text}" -ge 4 ] && LC_ALL=C grep -qaF -- "${text}" "${work}/${core}.bin"; then
      echo "the ${core} flash image holds a kivlog string: ${text}" >&2
      found=1
    fi
  done < <(tail -c +259 "${work}/${core}-strings.bin" | tr '\0\n' '\n\n' |
    LC_ALL=C grep -a '^[[:print:]]*$')
  [ "${found}" -eq 0 ] || exit 1
done

# Run each image until it ends itself through semihosting; its UART output is the capture.
for image in umac lmac umac-flash lmac-flash one-core; do
  if ! timeout 60 qemu-system-arm -M mps2-an385 -display none -monitor none -nodefaults \
    -serial "file:${work}/${image}.cap" -semihosting-config enable=on,target=native \
    -kernel "${work}/${image}.elf" 2>"${work}/${image}.qemu.txt"; then
    cat "${work}/${image}.qemu.txt" >&2
    echo "the ${image} firmware did not run to its end under QEMU" >&2
    exit 1
  fi
done

# kivlog-uart turns the captures (the wire format the cores sent) into host log lines; the
# sample's raw log interleaves them with a driver's lines at fixed host times. The capture of both
# cores is kept for the reader's tests.
cat "${work}/umac.cap" "${work}/lmac.cap" >"${work}/capture.bin"
"${uart}" -t none "${work}/capture.bin" >"${work}/capture.lines"
hostflags=(-std=c99 -Wall -Wextra -Werror -pedantic -O2 -I "${kit}/include" -I "${kit}/host")
gcc "${hostflags[@]}" tools/make_raw_log.c "${kit}/host/kivlog_host.c" -o "${work}/make_raw_log"
"${work}/make_raw_log" "${work}/capture.lines" >"${work}/raw.log"

# The printf check: each image's records decoded alone must read exactly as the host's printf
# prints the same statements with the same values. -m32 gives printf 32-bit int and long.
for core in umac lmac; do
  number=0
  sources=("${umac_sources[@]}")
  if [ "${core}" = lmac ]; then number=1; sources=("${lmac_sources[@]}"); fi
  gcc -m32 -std=c99 -Wall -Wextra -Werror -Wno-format -O2 -I "${kit}/include" -I platform \
    -I "${core}/src" -DKIVLOG_PRINTF -DKIVLOG_CORE="${number}" platform/clock.c \
    platform/host_printf.c "${sources[@]}" -o "${work}/${core}-printf"
  "${work}/${core}-printf" >"${work}/${core}.printf.txt"
done
# capture, the program it ran, and the files kivlog decodes its records with
checks=(umac umac "-f kiv_log.elf" umac umac "-u umac.elf -l lmac.elf"
  lmac lmac "-f kiv_log.elf" lmac lmac "-u umac.elf -l lmac.elf"
  umac-flash umac "-f kiv_log-flash.elf" lmac-flash lmac "-f kiv_log-flash.elf"
  one-core umac "-f one-core.elf")
for ((i = 0; i < ${#checks[@]}; i += 3)); do
  capture="${checks[i]}" program="${checks[i + 1]}" files="${checks[i + 2]}"
  "${uart}" -t none "${work}/${capture}.cap" | grep -F '[FW_LOG-R]' >"${work}/${capture}.records.log"
  # shellcheck disable=SC2086
  (cd "${work}" && "${kivlog}" ${files} -i "${capture}.records.log") \
    >"${work}/${capture}.decoded.txt" 2>/dev/null
  if ! cmp -s "${work}/${program}.printf.txt" "${work}/${capture}.decoded.txt"; then
    echo "kivlog's decoding of the ${capture} records (${files}) differs from printf:" >&2
    diff "${work}/${program}.printf.txt" "${work}/${capture}.decoded.txt" >&2 || true
    exit 1
  fi
  echo "${capture} (${files}): $(wc -l <"${work}/${capture}.records.log") records decode exactly as printf prints them"
done

# The decoded sample: every combination of the two file forms, a folder or not, strict or not.
runs=(combined "-f kiv_log.elf" combined-strict "-s -f kiv_log.elf"
  combined-folder "-f kiv_log.elf -o out" combined-strict-folder "-s -f kiv_log.elf -o out"
  legacy "-u umac.elf -l lmac.elf" legacy-strict "-s -u umac.elf -l lmac.elf"
  legacy-folder "-u umac.elf -l lmac.elf -o out"
  legacy-strict-folder "-s -u umac.elf -l lmac.elf -o out")
# The one-core firmware's log, as kivlog-uart writes it for a device sta0: its announcement
# names one core, so the version line carries an empty LMAC group, which the one-core image's
# empty LMAC version record matches.
"${uart}" -t none --id sta0 "${work}/one-core.cap" >"${work}/one-core.log"
runs+=(one-core "-f one-core.elf -i one-core.log")
cp "${work}/umac.elf" "${work}/lmac.elf" "${work}/kiv_log.elf" "${work}/raw.log" \
  "${work}/one-core.elf" "${work}/one-core.log" "${work}/run/"
expected="${work}/expected"
for ((i = 0; i < ${#runs[@]}; i += 2)); do
  name="${runs[i]}"
  rm -rf "${work}/run/out"
  mkdir -p "${work}/run/out" "${expected}/${name}"
  # shellcheck disable=SC2086
  args="${runs[i + 1]}"
  [[ "${args}" == *" -i "* ]] || args+=" -i raw.log"
  # shellcheck disable=SC2086
  (cd "${work}/run" && "${kivlog}" -r ${args}) \
    >"${expected}/${name}/stdout.txt" 2>"${expected}/${name}/stderr.txt"
  if [ -n "$(ls -A "${work}/run/out")" ]; then
    cp -r "${work}/run/out" "${expected}/${name}/out"
  fi
done
if grep -l '\[ERR\]' -r "${expected}" >&2; then
  echo "the sample decodes with errors" >&2
  exit 1
fi

# Addresses, sizes and data offsets depend on the compiler and the layout; the decoded text does
# not. Lines passed through undecoded keep their descriptor address.
without_addresses() {
  grep -v -e 'Data Offset=' "$1" |
    sed -E 's/(\[FW_LOG-R\](\[ID:[^]]*\])?\[[0-9]*\]\[[0-9]*\])\[[0-9a-f]*\]/\1[address]/'
}

bash "${here}/flash-size.sh" "${work}"

if [ "${mode}" = --check ]; then
  status=0
  while IFS= read -r file; do
    relative="${file#"${here}/expected/"}"
    if ! diff <(without_addresses "${file}") <(without_addresses "${expected}/${relative}") >&2; then
      echo "decoded text changed: expected/${relative}" >&2
      status=1
    fi
  done < <(find "${here}/expected" -type f | sort)
  if [ "$(cd "${here}/expected" && find . -type f | sort)" != "$(cd "${expected}" && find . -type f | sort)" ]; then
    echo "the set of decoded files changed" >&2
    status=1
  fi
  [ "${status}" -eq 0 ] && echo "firmware sample: rebuilt, rerun and decoded to the committed text"
  exit "${status}"
fi

cp "${work}/kiv_log.elf" "${work}/umac.elf" "${work}/lmac.elf" "${work}/raw.log" \
  "${work}/one-core.elf" "${work}/one-core.log" "${work}/capture.bin" "${here}/"
rm -rf "${here}/expected"
cp -r "${expected}" "${here}/expected"
echo "firmware sample written to ${here#"${root}/"}:"
ls -l "${here}"/*.elf "${here}"/*.log "${here}/capture.bin" | awk '{print "  " $5 " bytes  " $NF}' | sed "s|${here}/||"
