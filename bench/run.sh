#!/usr/bin/env bash
# Measures kivlog on the generated workload and prints a Markdown table on standard output: per
# case the median of RUNS runs (default 3) of wall time, lines/s, MB/s of input and peak resident
# memory, next to `awk '{print}'` and `cat` on the same input. Progress goes to standard error.
#
#   bench/run.sh [--lines N] [--baseline REV] [--micro]
#
#   --lines N       raw-log length (default 2000000; N=... in the environment does the same)
#   --baseline REV  also build kivlog at git revision REV and measure both binaries in the same
#                   run, interleaved, with the speed-up per case
#   --micro         run the Google Benchmark micro-benchmarks afterwards
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# One line per case: name, input file in the work folder ("-": empty input), how kivlog gets it
# (file: -i; pipe: cat file |; stdin: < file; folder: -i and -o into a fresh empty folder; zcat,
# zstdcat, xzcat: that tool's output piped in; python: the Python module's Decoder.decode_file, of the
# current build only), then kivlog's arguments. A binary that does not
# know an argument, or does not read a compressed capture given with -i, shows n/a in that row. A
# file is decoded with one worker per core unless -P says otherwise; a baseline that does not
# know -P runs every row without it.
cases=(
  "data-heavy     data-heavy.log      file     -f kiv_log.elf"
  "data-heavy-P1  data-heavy.log      file     -f kiv_log.elf -P 1"
  "host-heavy     host-heavy.log      file     -f kiv_log.elf"
  "folder         folder.log          folder   -f kiv_log.elf"
  "folder-P1      folder.log          folder   -f kiv_log.elf -P 1"
  "pipe           data-heavy.log      pipe     -f kiv_log.elf"
  "json           data-heavy.log      file     -f kiv_log.elf -j"
  "json-P1        data-heavy.log      file     -f kiv_log.elf -j -P 1"
  "library        library.log         file     -f kiv_log.elf -F library"
  "debug          debug.log           file     -f kiv_log.elf -v 3"
  "image-load     -                   stdin    -f big_image.elf"
  "gzip           data-heavy.log.gz   file     -f kiv_log.elf"
  "zcat           data-heavy.log.gz   zcat     -f kiv_log.elf"
  "zstd           data-heavy.log.zst  file     -f kiv_log.elf"
  "zstdcat        data-heavy.log.zst  zstdcat  -f kiv_log.elf"
  "xz             data-heavy.log.xz   file     -f kiv_log.elf"
  "xzcat          data-heavy.log.xz   xzcat    -f kiv_log.elf"
  "python         data-heavy.log      python   -f kiv_log.elf"
)
# The python case: every event of the file as a dict, with the module built here.
python=/usr/bin/python3
python_decode='import sys, kivlog
for event in kivlog.Decoder(elf=sys.argv[sys.argv.index("-f") + 1]).decode_file(sys.argv[1]):
    pass'

debug_lines=200000

lines=${N:-2000000}
runs=${RUNS:-3}
baseline=""
micro=0
while [ $# -gt 0 ]; do
  case $1 in
    --lines) lines=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --micro) micro=1; shift ;;
    *) sed -n '6,12s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done

build=$root/build/bench-release
work=$root/build/bench-work
worktree=$build/baseline/src
rss_file=$build/rss.txt

fail() { echo "run.sh: $*" >&2; exit 1; }
cleanup() {
  rm -rf "$work/out"
  if [ -d "$worktree" ]; then
    git worktree remove --force "$worktree" || true
  fi
}
trap cleanup EXIT

bash scripts/deps.sh bench >&2
echo "Building Release in $build" >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=ON \
  -DKIVLOG_BENCHMARKS=ON >/dev/null
cmake --build "$build" --parallel 2 --target kivlog kivlog_workload kivlog_bench kivlog_python >&2

# kivlog built at a git revision, kept per commit under $build/baseline with the decoder library
# it links, if it links one, beside it.
build_baseline() {
  local commit
  commit=$(git rev-parse --verify "$1^{commit}")
  local keep=$build/baseline/${commit:0:12}
  baseline_bin=$keep/kivlog
  [ -x "$baseline_bin" ] && return
  echo "Building kivlog at $1 ($commit)" >&2
  local dir=$build/baseline/build
  rm -rf "$dir" "$keep"
  git worktree add --detach "$worktree" "$commit" >&2
  # shellcheck disable=SC2016  # $ORIGIN is for the dynamic linker, not the shell
  cmake -S "$worktree" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=OFF \
    -DCMAKE_BUILD_RPATH='$ORIGIN' >/dev/null
  cmake --build "$dir" --parallel 2 --target kivlog >&2
  mkdir -p "$keep"
  find "$dir" -maxdepth 1 -name 'libkivlog.so*' -exec cp -P {} "$keep/" \;
  cp "$dir/kivlog" "$baseline_bin"
  git worktree remove --force "$worktree"
  rm -rf "$dir"
}

bins=("$build/kivlog")
if [ -n "$baseline" ]; then
  build_baseline "$baseline"
  bins=("$baseline_bin" "$build/kivlog")
fi

generator=$build/bench/kivlog_workload
stamp="lines=$lines generator=$(sha256sum < "$generator" | cut -c1-16)"
if [ "$(cat "$work/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "Generating $lines-line logs in $work" >&2
  rm -rf "$work"
  mkdir -p "$work"
  "$generator" "$work" "$lines"
  head -n "$debug_lines" "$work/data-heavy.log" > "$work/debug.log"
  echo "$stamp" > "$work/stamp"
fi
cd "$work"
# The compressed cases' captures, each at its tool's default level.
[ -f data-heavy.log.gz ] || { echo "Compressing data-heavy.log" >&2; gzip -k data-heavy.log; }
[ -f data-heavy.log.zst ] || zstd -q -k data-heavy.log
[ -f data-heavy.log.xz ] || xz -k -T1 data-heavy.log

# The tool that decompresses a compressed capture, by its name; empty for a plain one.
unpacker() {
  case $1 in
    *.gz) echo zcat ;;
    *.zst) echo zstdcat ;;
    *.xz) echo xzcat ;;
  esac
}

# Runs kivlog once; sets elapsed_us and rss_kb.
run_kivlog() {
  local binary=$1 input=$2 via=$3
  shift 3
  local timed=(/usr/bin/time -f %M -o "$rss_file" "$binary" "$@")
  [ "$via" = folder ] && { rm -rf out; mkdir out; }
  local start=${EPOCHREALTIME//[.,]/}
  case $via in
    file) "${timed[@]}" -i "$input" > /dev/null ;;
    stdin) "${timed[@]}" < "$input" > /dev/null ;;
    pipe) cat "$input" | "${timed[@]}" > /dev/null ;;
    folder) "${timed[@]}" -i "$input" -o out > /dev/null ;;
    zcat | zstdcat | xzcat) "$via" "$input" | "${timed[@]}" > /dev/null ;;
    python)
      /usr/bin/time -f %M -o "$rss_file" env PYTHONPATH="$build/python" "$python" -c "$python_decode" \
        "$input" "$@" ;;
    *) fail "unknown input mode $via" ;;
  esac || fail "$binary $* ($via $input) failed"
  elapsed_us=$((${EPOCHREALTIME//[.,]/} - start))
  rss_kb=$(tail -n 1 "$rss_file")
}

# Runs a command with its output discarded; sets elapsed_us.
run_timed() {
  local start=${EPOCHREALTIME//[.,]/}
  "$@" > /dev/null || fail "$* failed"
  elapsed_us=$((${EPOCHREALTIME//[.,]/} - start))
}

# True unless the binary answers the arguments with its usage text, as it does for an option it
# does not know.
knows_args() {
  local out
  out=$("$@" < /dev/null 2>/dev/null || true)
  ! grep -q '^Usage: ' <<< "$out"
}

# True unless the case reads a compressed capture with -i and the binary does not decompress it.
reads_input() {
  local via=$1 tool=$2
  shift 2
  [ "$via" = file ] && [ -n "$tool" ] || return 0
  local compress
  case $tool in
    zcat) compress=(gzip -c) ;;
    zstdcat) compress=(zstd -q -c) ;;
    xzcat) compress=(xz -c) ;;
  esac
  printf 'host line\n' | "${compress[@]}" > probe.capture
  [ "$("$@" -i probe.capture 2>/dev/null)" = "host line" ]
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "# kivlog benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: ${cpu:-unknown CPU}, $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB; $(uname -sr)"
echo "- kivlog: $(git -C "$root" describe --always --dirty) (Release, $(c++ --version | head -n 1))"
[ -n "$baseline" ] && echo "- baseline: $baseline ($(git -C "$root" rev-parse --short "$baseline^{commit}"))"
echo "- workload: $lines lines per log, debug case on the first $debug_lines; median of $runs runs"
echo "- awk: $(awk -W version 2>&1 | head -n 1)"
echo
if [ -n "$baseline" ]; then
  echo "Cells with two figures read baseline → current; one figure: both alike at that precision."
  echo
  echo "| case | lines | input MB | seconds | speed-up | lines/s | MB/s | peak RSS MB | awk s | cat s | kivlog/awk |"
  echo "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|"
else
  echo "| case | lines | input MB | seconds | lines/s | MB/s | peak RSS MB | awk s | cat s | kivlog/awk |"
  echo "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|"
fi

for line in "${cases[@]}"; do
  read -r name input via args <<< "$line"
  read -ra argv <<< "$args"
  echo "Measuring $name" >&2
  if [ "$input" = - ]; then
    input=/dev/null
    unpack=
    input_lines=0
    input_bytes=0
  else
    unpack=$(unpacker "$input")
    # A compressed case counts the lines of the text inside and the bytes of the capture.
    text=$input
    [ -n "$unpack" ] && text=${input%.*}
    input_lines=$(wc -l < "$text")
    input_bytes=$(stat -c %s "$input")
    cat "$input" > /dev/null  # into the page cache before the first timed run
  fi

  # The arguments each binary runs with: the baseline's without -P when it does not know it.
  baseline_argv=("${argv[@]}")
  if [ -n "$baseline" ] && ! knows_args "${bins[0]}" "${argv[@]}"; then
    baseline_argv=()
    for ((a = 0; a < ${#argv[@]}; a++)); do
      if [ "${argv[$a]}" = -P ]; then
        a=$((a + 1))
      else
        baseline_argv+=("${argv[$a]}")
      fi
    done
  fi
  args_of() {
    if [ -n "$baseline" ] && [ "$1" = 0 ]; then
      bin_argv=("${baseline_argv[@]}")
    else
      bin_argv=("${argv[@]}")
    fi
  }
  known=()
  for i in "${!bins[@]}"; do
    args_of "$i"
    if [ "$via" = python ]; then
      [ "${bins[$i]}" = "$build/kivlog" ] && known+=(1) || known+=(0)
    elif knows_args "${bins[$i]}" "${bin_argv[@]}" &&
       reads_input "$via" "$unpack" "${bins[$i]}" "${bin_argv[@]}"; then
      known+=(1)
    else
      known+=(0)
    fi
  done
  times=()
  rss=()
  awk_times=()
  cat_times=()
  for ((run = 0; run < runs; run++)); do
    for i in "${!bins[@]}"; do
      [ "${known[$i]}" = 1 ] || continue
      args_of "$i"
      run_kivlog "${bins[$i]}" "$input" "$via" "${bin_argv[@]}"
      times[$i]+=" $elapsed_us"
      rss[$i]+=" $rss_kb"
    done
    if [ -n "$unpack" ]; then
      # For a compressed capture, the "cat" column is its tool decompressing it alone.
      run_timed "$unpack" "$input"
      cat_times+=("$elapsed_us")
    elif [ "$input_lines" -gt 0 ]; then
      run_timed awk '{print}' "$input"
      awk_times+=("$elapsed_us")
      run_timed cat "$input"
      cat_times+=("$elapsed_us")
    fi
  done

  figures=()
  for i in "${!bins[@]}"; do
    if [ "${known[$i]}" = 1 ]; then
      # shellcheck disable=SC2086  # the samples are space-separated numbers
      figures+=("$(median ${times[$i]}) $(median ${rss[$i]})")
    else
      figures+=("na na")
    fi
  done
  awk_us=$([ ${#awk_times[@]} -eq 0 ] || median "${awk_times[@]}")
  cat_us=$([ ${#cat_times[@]} -eq 0 ] || median "${cat_times[@]}")

  awk -v name="$name" -v lines="$input_lines" -v bytes="$input_bytes" -v awk_us="$awk_us" \
    -v cat_us="$cat_us" -v figures="${figures[*]}" -v pairs="${#bins[@]}" '
    function seconds(us) { return us == "" ? "—" : us == "na" ? "n/a" : sprintf("%.3f", us / 1e6) }
    function rate(count, us, scale, unit) {
      if (us == "na") return "n/a"
      return count == 0 ? "—" : sprintf("%.2f%s", count / scale / (us / 1e6), unit)
    }
    function mb(kb) { return kb == "na" ? "n/a" : sprintf("%.1f", kb / 1024) }
    function ratio(us) { return awk_us == "" ? "—" : us == "na" ? "n/a" : sprintf("%.2f", us / awk_us) }
    # "baseline → current" when two binaries were measured.
    function cell(base, current) { return pairs == 2 && base != current ? base " → " current : current }
    BEGIN {
      split(figures, f, " ")
      bu = f[1]; bk = f[2]; cu = f[pairs * 2 - 1]; ck = f[pairs * 2]
      row = "| " name " | " lines " | " sprintf("%.1f", bytes / 1e6) " | " cell(seconds(bu), seconds(cu))
      if (pairs == 2) row = row " | " (bu == "na" || cu == "na" ? "n/a" : sprintf("%.2fx", bu / cu))
      row = row " | " cell(rate(lines, bu, 1e6, " M"), rate(lines, cu, 1e6, " M"))
      row = row " | " cell(rate(bytes, bu, 1e6, ""), rate(bytes, cu, 1e6, ""))
      row = row " | " cell(mb(bk), mb(ck)) " | " seconds(awk_us) " | " seconds(cat_us)
      row = row " | " cell(ratio(bu), ratio(cu)) " |"
      print row
    }'
done
rm -rf out probe.capture

if [ "$micro" = 1 ]; then
  echo
  echo '```'
  "$build/bench/kivlog_bench" 2>&1
  echo '```'
fi
