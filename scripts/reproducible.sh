#!/usr/bin/env bash
# Checks that kivlog builds reproducibly: two Release builds of this tree in two folders, with the
# same SOURCE_DATE_EPOCH and build account, give a bit-identical kivlog and libkivlog (which holds
# the banner and everything but main), whose banner shows that date and time in UTC and that
# account. The first build sees SOURCE_DATE_EPOCH when it builds, the second only when it is
# configured; a later change of SOURCE_DATE_EPOCH must reach the banner of an existing build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo

first=1772623230  # Wed Mar  4 11:20:30 UTC 2026: a day of one digit, padded as __DATE__ pads it
second=1774347630 # Tue Mar 24 10:20:30 UTC 2026
settings=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=OFF -DKIVLOG_BUILD_USER=reproducible)

banner() {
  "$1" -h | sed -n 1p
}
expectBanner() {
  local binary=$1 stamp=$2
  local shown
  shown=$(banner "$binary")
  if [[ $shown != *" $stamp reproducible" ]]; then
    echo "$binary: the banner is \"$shown\", expected it to end in \"$stamp reproducible\"" >&2
    exit 1
  fi
}

rm -rf build/repro-a build/repro-b
env -u SOURCE_DATE_EPOCH cmake -S . -B build/repro-a "${settings[@]}" >/dev/null
SOURCE_DATE_EPOCH=$first cmake --build build/repro-a --target kivlog >/dev/null
SOURCE_DATE_EPOCH=$first cmake -S . -B build/repro-b "${settings[@]}" >/dev/null
env -u SOURCE_DATE_EPOCH cmake --build build/repro-b --target kivlog >/dev/null

expectBanner build/repro-a/kivlog "Mar  4 2026 11:20:30"
library=$(basename "$(readlink -f build/repro-a/libkivlog.so)")
for file in kivlog "$library"; do
  if ! cmp "build/repro-a/$file" "build/repro-b/$file"; then
    echo "Two builds with SOURCE_DATE_EPOCH=$first differ" >&2
    exit 1
  fi
done
echo "Two builds in two folders are bit-identical: $(banner build/repro-a/kivlog)"

SOURCE_DATE_EPOCH=$second cmake --build build/repro-b --target kivlog >/dev/null
expectBanner build/repro-b/kivlog "Mar 24 2026 10:20:30"
echo "A new SOURCE_DATE_EPOCH reaches the banner: $(banner build/repro-b/kivlog)"
