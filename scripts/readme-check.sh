#!/usr/bin/env bash
# Runs every command the README shows, so that none of them goes stale.
#   scripts/readme-check.sh <kivlog binary> [README]
#   scripts/readme-check.sh --repo-commands [README]
#                            prints the commands of the ```sh repo blocks, one a line, in order
# Blocks fenced as ```sh are run, each as a bash script, in a scratch folder that holds what they
# name: the real firmware sample's images as kiv_log.elf, umac.elf and lmac.elf, its raw log as
# capture.log, field-failure.log and fleet.log, a folder of builds, a folder of captures (one of
# them compressed), and a `dmesg` that prints capture.log. Blocks fenced as ```sh repo run from the
# repository root and need a build or root; the CI script runs them, so here each of their
# commands must start a line of .ci/run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Prints block after block, each ended by a NUL byte and preceded by its fence's words.
blocks() {
  awk '
    /^[[:space:]]*```/ {
      if (inBlock) { printf "%c", 0; inBlock = 0; next }
      info = $0; sub(/^[[:space:]]*```/, "", info)
      if (info ~ /^sh/) { inBlock = 1; printf "%s\n", info }
      next
    }
    inBlock { sub(/^  /, ""); print }
  ' "$1"
}

# The commands of a ```sh repo block, without comments and trailing blanks.
repoCommands() {
  local command
  while IFS= read -r command; do
    command=${command%%#*}
    command=${command%"${command##*[![:space:]]}"}
    if [ -n "$command" ]; then
      printf '%s\n' "$command"
    fi
  done <<< "$1"
}

if [ "${1:-}" = --repo-commands ]; then
  while IFS= read -r -d '' block; do
    if [ "${block%%$'\n'*}" = "sh repo" ]; then
      repoCommands "${block#*$'\n'}"
    fi
  done < <(blocks "${2:-$root/README.md}")
  exit 0
fi

binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
readme=${2:-$root/README.md}
sample=$root/examples/firmware

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/run/builds" "$work/run/captures"
ln -s "$binary" "$work/bin/kivlog"
printf '#!/bin/sh\nexec cat "%s"\n' "$work/run/capture.log" > "$work/bin/dmesg"
chmod +x "$work/bin/dmesg"
cd "$work/run"
cp "$sample/kiv_log.elf" "$sample/umac.elf" "$sample/lmac.elf" .
for name in capture.log field-failure.log fleet.log captures/a.log captures/b.log; do
  cp "$sample/raw.log" "$name"
done
gzip -c "$sample/raw.log" > captures/old.log.gz
cp "$root/examples/kiv_log.elf" builds/older.elf
cp "$sample/kiv_log.elf" builds/current.elf

ran=0
while IFS= read -r -d '' block; do
  info=${block%%$'\n'*}
  body=${block#*$'\n'}
  if [ "$info" = "sh repo" ]; then
    while IFS= read -r command; do
      if ! grep -qE "^$(printf '%s' "$command" | sed 's/[][\.*^$/+?(){}|]/\\&/g')( |$)" \
        "$root/.ci/run"; then
        echo "readme-check: .ci/run does not run: $command" >&2
        exit 1
      fi
    done < <(repoCommands "$body")
  elif [ "$info" = sh ]; then
    if ! PATH="$work/bin:$PATH" bash -euo pipefail -c "$body" > "$work/out" 2> "$work/err"; then
      echo "readme-check: this block failed:" >&2
      echo "$body" >&2
      cat "$work/err" >&2
      exit 1
    fi
  fi
  ran=$((ran + 1))
done < <(blocks "$readme")

for made in decoded/HostAndFirmware.log decoded/a/HostAndFirmware.log decoded/b/HostAndFirmware.log \
  old.decoded.log; do
  [ -s "$made" ] || { echo "readme-check: the README's commands made no $made" >&2; exit 1; }
done
echo "readme-check: $ran blocks of the README checked"
