#!/usr/bin/env bash
# Rebuilds the seed generator and rewrites the generated seeds in fuzz/corpus/. Regression inputs
# that fuzzing found stay as they are.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${root}/build/test"

bash "${root}/scripts/deps.sh" test
cmake -S "${root}" -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "${build}" -j2 kivlog_make_fuzz_corpus
"${build}/tests/kivlog_make_fuzz_corpus" "${root}/fuzz/corpus"
