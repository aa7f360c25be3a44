#!/usr/bin/env bash
# Builds kivlog with its tests and runs every test.
# KIVLOG_SANITIZE=1 builds and runs them with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
if [ "${KIVLOG_SANITIZE:-0}" = 1 ]; then
  dir=build/sanitize
  flags=(-DCMAKE_BUILD_TYPE=Debug -DKIVLOG_SANITIZE=ON)
else
  dir=build/test
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
