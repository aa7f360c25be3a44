#!/usr/bin/env bash
# The bash completion of kivlog, run as bash runs it: the script is sourced, `complete -p` must
# name its function, and each case sets COMP_WORDS and COMP_CWORD as bash does for the command
# line typed so far, calls the function and compares the offered words, sorted.
#   completion_test.sh <completion script>
set -uo pipefail
script=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p captures "fw builds" out
touch capture.log "two words.log" kiv_log.elf captures/a.log

# shellcheck source=/dev/null
source "$script" || exit 1

passed=0
failed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}

# Table: the words typed (the last one being completed) | the words offered, sorted, one space apart.
# bash hands "--color=al" over as three words, "--color = al", as the rows write it.
cases=(
  'kivlog -|--color= --device --follow --level --mac --no-host -F -P -f -i -j -l -o -r -s -sig_lmac -sig_umac -u -v'
  'kivlog --|--color= --device --follow --level --mac --no-host'
  'kivlog --c|--color='
  'kivlog --level |ALWAYS CRITICAL DUMP ERROR INFO1 INFO2 TRACE WARNING'
  'kivlog --level I|INFO1 INFO2'
  'kivlog --level =|ALWAYS CRITICAL DUMP ERROR INFO1 INFO2 TRACE WARNING'
  'kivlog --level = W|WARNING'
  'kivlog --mac |LMAC UMAC'
  'kivlog -j --mac = L|LMAC'
  'kivlog --color |always auto never'
  'kivlog --color =|always auto never'
  'kivlog --color = a|always auto'
  'kivlog --device |'
  'kivlog --device wlan0 --no-host -i|-i'
  'kivlog -s|-s -sig_lmac -sig_umac'
  'kivlog -v |0 1 2 3'
  'kivlog -v 2|2'
  "kivlog -P |$(printf '%s\n' 1 "$(nproc)" | LC_ALL=C sort -u | paste -sd ' ' -)"
  'kivlog -i |capture.log captures fw builds kiv_log.elf out two words.log'
  'kivlog -f k|kiv_log.elf'
  'kivlog -u captures/|captures/a.log'
  'kivlog -l t|two words.log'
  'kivlog -o |captures fw builds out'
  'kivlog -F f|fw builds'
  'kivlog -sig_umac F|FAST_LOG_START_ FAST_LOG_UMAC__'
  'kivlog -sig_lmac FAST_LOG_L|FAST_LOG_LMAC__'
  'kivlog -f kiv_log.elf -|--color= --device --follow --level --mac --no-host -F -P -f -i -j -o -r -s -sig_lmac -sig_umac -v'
  'kivlog -u umac.elf -|--color= --device --follow --level --mac --no-host -F -P -i -j -l -o -r -s -sig_lmac -sig_umac -u -v'
  'kivlog -r -i capture.log -o out -v 1 -|--color= --device --follow --level --mac --no-host -F -P -f -i -j -l -o -r -s -sig_lmac -sig_umac -u -v'
  'kivlog --follow -i |capture.log captures fw builds kiv_log.elf out two words.log'
)
for row in "${cases[@]}"; do
  typed=${row%%|*}
  expected=${row#*|}
  read -r -a COMP_WORDS <<<"$typed"
  # A line that ends in a blank is completing a new, empty word.
  [[ $typed == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _kivlog
  offered=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ' -)
  if [[ $offered == "$expected" ]]; then
    passed=$((passed + 1))
  else
    fail "'$typed' offered '$offered', expected '$expected'"
  fi
done

if [[ $(complete -p kivlog 2>&1) == 'complete -F _kivlog kivlog' ]]; then
  passed=$((passed + 1))
else
  fail "complete -p kivlog: $(complete -p kivlog 2>&1)"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
