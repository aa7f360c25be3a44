#!/usr/bin/env bash
# Rebuilds the sample generator and rewrites examples/kiv_log.elf and examples/sample.log.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${root}/build/sample"

cmake -S "${root}" -B "${build}" -G Ninja
ninja -C "${build}" -j2 kivlog_make_sample
"${build}/tests/kivlog_make_sample" "${root}/examples"
