#!/usr/bin/env bash
# Builds the C++ example (examples/cpp) against an installed kivlog, once with its CMakeLists.txt
# (find_package(kivlog)) and once with the pkg-config command its README gives, runs both on the
# shipped sample and compares what they print with examples/cpp/sample.expected.
#   scripts/cpp-example.sh            against the system's kivlog (the Debian packages)
#   scripts/cpp-example.sh <prefix>   against the tree `cmake --install <build> --prefix <prefix>`
#                                     made
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
bash scripts/deps.sh example

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmakeArgs=()
if [ $# -gt 0 ]; then
  prefix=$(cd "$1" && pwd)
  cmakeArgs=("-DCMAKE_PREFIX_PATH=$prefix")
  pc=$(find "$prefix" -path '*/pkgconfig/kivlog.pc' | head -n 1)
  [ -n "$pc" ] || { echo "cpp-example: no kivlog.pc under $prefix" >&2; exit 1; }
  export PKG_CONFIG_PATH=$(dirname "$pc")
fi

check() {
  local how=$1 binary=$2
  (cd examples && "$binary" kiv_log.elf sample.log) > "$work/out"
  if ! cmp -s "$work/out" examples/cpp/sample.expected; then
    echo "cpp-example: built with $how, count-levels printed:" >&2
    cat "$work/out" >&2
    exit 1
  fi
  echo "cpp-example: built with $how, count-levels counts the shipped sample as expected"
}

cmake -S examples/cpp -B "$work/cmake" -G Ninja "${cmakeArgs[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
check "find_package(kivlog)" "$work/cmake/count-levels"

# The README's pkg-config command as written, run beside a copy of the source.
command=$(grep '^g++ .*pkg-config' examples/cpp/README.md)
[ "$(wc -l <<<"$command")" -eq 1 ] || { echo "cpp-example: no one g++ command in the README" >&2; exit 1; }
mkdir "$work/pkg-config"
cp examples/cpp/count_levels.cpp "$work/pkg-config/"
(cd "$work/pkg-config" && bash -euo pipefail -c "$command")
if [ -n "${PKG_CONFIG_PATH:-}" ]; then
  export LD_LIBRARY_PATH=$(pkg-config --variable=libdir kivlog)
fi
check "pkg-config" "$work/pkg-config/count-levels"
