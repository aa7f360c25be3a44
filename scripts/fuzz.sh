#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while with its seed corpus and
# dictionary; fails on the first finding, whose input is left in build/fuzz/findings/.
#   scripts/fuzz.sh [--keep] [seconds] [target...]
# seconds: per target (default 30); targets: names as in fuzz/CMakeLists.txt, without "_fuzz"
# (default: all). Runs work on a scratch copy of fuzz/corpus/<target>; with --keep, the inputs
# that reached new code are merged back into the committed corpus. A target runs on one core: as
# many run at a time as there are cores.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
if [ "${1:-}" = --keep ]; then
  keep=1
  shift
fi
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(formatter processor image command_line formatter_diff line_reader decompress)
fi

bash scripts/deps.sh ci
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKIVLOG_TESTS=OFF -DKIVLOG_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

findings="$build/findings"
mkdir -p "$findings"
# Runs one target; its output goes to build/fuzz/<target>.log.
fuzz() {
  local target=$1
  local binary="$build/fuzz/${target}_fuzz"
  local scratch="$build/corpus/$target"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  cp -a "fuzz/corpus/$target/." "$scratch/"
  local args=(-max_total_time="$seconds" -timeout=25 -print_final_stats=1
              -artifact_prefix="$findings/$target-")
  [ -f "fuzz/$target.dict" ] && args+=(-dict="fuzz/$target.dict")
  # Its long lines and pieces across the cut need inputs beyond the default length.
  [ "$target" = line_reader ] && args+=(-max_len=8192)
  "$binary" "${args[@]}" "$scratch" >"$build/$target.log" 2>&1 || return 1
  if [ "$keep" = 1 ]; then
    "$binary" -merge=1 "fuzz/corpus/$target" "$scratch" >>"$build/$target.log" 2>&1
  fi
}

cores=$(nproc)
failed=()
for ((first = 0; first < ${#targets[@]}; first += cores)); do
  batch=("${targets[@]:first:cores}")
  pids=()
  for target in "${batch[@]}"; do
    echo "fuzzing $target for $seconds s"
    fuzz "$target" &
    pids+=($!)
  done
  for i in "${!batch[@]}"; do
    target=${batch[$i]}
    if wait "${pids[$i]}"; then
      grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$target.log" || true
    else
      tail -n 60 "$build/$target.log"
      echo "fuzz: $target found a fault; the input is in $findings/" >&2
      failed+=("$target")
    fi
  done
done
[ ${#failed[@]} -eq 0 ] || exit 1
echo "fuzz: no findings in ${targets[*]}"
