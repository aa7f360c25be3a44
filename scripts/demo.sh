#!/usr/bin/env bash
# Builds kivlog (with its manual page and completion) and decodes the shipped sample:
# examples/sample.log against examples/kiv_log.elf.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=OFF >/dev/null
cmake --build build/release
cd examples
exec ../build/release/kivlog -r -f kiv_log.elf -i sample.log
