#!/usr/bin/env bash
# kivlog's lnav formats as a user installs them (lnav -i) and as lnav reads kivlog's output, run
# headless: lnav's own check of the formats and their samples passes, and lnav finds in the
# decoded sample, in a folder's main log and personal logs, and in the JSON Lines the levels and
# devices that kivlog wrote there.
#   lnav_test.sh <kivlog binary> <source folder>
set -uo pipefail
kivlog=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# lnav keeps its settings and installed formats under HOME: a fresh one, so that the user's own
# lnav set-up plays no part.
export HOME=$work/home
mkdir -p "$HOME"
unset XDG_CONFIG_HOME

passed=0
failed=0
# check <what> <expected> <actual>
check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    diff <(echo "$2") <(echo "$3")
    failed=$((failed + 1))
  fi
}

if ! command -v lnav >/dev/null; then
  echo "FAIL: lnav is not installed (scripts/deps.sh test installs it)"
  echo "0 passed, 1 failed"
  exit 1
fi

# query <SQL, in two parts> <file or folder>: the result as CSV, lnav run without a terminal or an
# input of its own.
query() {
  timeout 60 lnav -n -c ";$1 $2" -c ':write-csv-to -' "$3" </dev/null 2>&1
}

for format in kivlog_log kivlog_jsonl; do
  check "lnav -i installs $format" "✔ installed -- $HOME/.lnav/formats/installed/$format.json" \
    "$(lnav -i "$source/packaging/lnav/$format.json" 2>&1)"
done
# lnav checks every sample line against the patterns and the level it names.
check "lnav -C finds the formats sound" "" "$(lnav -C 2>&1)"

cd "$work"
examples=$source/examples
"$kivlog" -f "$examples/kiv_log.elf" -i "$examples/sample.log" >sample.log 2>/dev/null
"$kivlog" -j -f "$examples/kiv_log.elf" -i "$examples/sample.log" >sample.jsonl 2>/dev/null
mkdir out
"$kivlog" -f "$examples/kiv_log.elf" -i "$examples/sample.log" -o out 2>/dev/null

# Each device's descriptor line (info) and decoded lines by level; host lines have no device. lnav
# takes the time stamp 0.000000 of the boot line for none, so that line's level is unknown.
byLevel() {
  echo "SELECT device, log_level, count(*) AS lines FROM $1" \
    "GROUP BY device, log_level ORDER BY device, log_level"
}
levels='wlan0,debug,3
wlan0,info,6
wlan0,warning,2
wlan1,info,4
wlan1,error,1
wlan1,critical,1'
check "levels and devices of the decoded sample" "device,log_level,lines
<NULL>,unknown,1
<NULL>,info,12
$levels" "$(query "$(byLevel kivlog_log)" "" sample.log)"
check "levels and devices of the JSON Lines" "device,log_level,lines
<NULL>,info,13
$levels" "$(query "$(byLevel kivlog_jsonl)" "" sample.jsonl)"

# `lnav out/` reads the main log and every personal log, which also holds the host lines that
# came after its device's first line.
check "devices of a folder's logs" "log,device,lines
out/HostAndFirmware.log,<NULL>,13
out/HostAndFirmware.log,wlan0,11
out/HostAndFirmware.log,wlan1,6
out/wlan0_personal.log,<NULL>,8
out/wlan0_personal.log,wlan0,11
out/wlan1_personal.log,<NULL>,3
out/wlan1_personal.log,wlan1,6" \
  "$(query "SELECT replace(log_path, '$work/', '') AS log, device, count(*) AS lines" \
    "FROM kivlog_log GROUP BY log, device ORDER BY log, device" out/)"

# The fields of a decoded line.
check "fields of a decoded line" "device,type,file,source_line,fw_timestamp,log_body
wlan1,LMAC_CR,lmac/src/phy/channel_switch.c,120,305,channel switch to 36 took 1250 us" \
  "$(query "SELECT device, type, file, source_line, fw_timestamp, log_body FROM kivlog_log" \
    "WHERE log_level = 'critical'" out/HostAndFirmware.log)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
