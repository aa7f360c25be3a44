#!/usr/bin/env bash
# The commit as a new user meets it: bootstraps a minimal Debian 12 (debootstrap's minbase: only
# the packages every Debian system has) in build/fresh-machine/root, clones the repository's HEAD
# into it, and runs there as root, one after the other, the README's set-up, test and install
# commands as written (its ```sh repo blocks, read as scripts/readme-check.sh reads them). Then,
# against what the Debian packages installed: the installed kivlog decodes the shipped sample,
# `man kivlog` shows the manual page, `python3 -c 'import kivlog'` imports the module when its
# package was built, and the C++ example builds with CMake and with pkg-config and runs.
#   scripts/fresh-machine.sh
# Needs root (debootstrap, chroot and mounts) and Debian's mirror (KIVLOG_DEBIAN_MIRROR, by default
# deb.debian.org). Only committed work is tried. The packages downloaded are kept in the host's apt
# cache, which the root uses as its own, so a second run, or one after the host installed the
# same packages, downloads little. The root stays in place after the run, to be looked into; the
# next run starts it afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "fresh-machine: run as root (debootstrap, chroot, mounts)" >&2; exit 2; }
command -v debootstrap >/dev/null || bash scripts/deps.sh ci

mirror=${KIVLOG_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${KIVLOG_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=/var/cache/apt/archives
work=$PWD/build/fresh-machine
root=$work/root
log=$work/log
commit=$(git rev-parse HEAD)
start=$SECONDS

# Everything mounted at or below the root, deepest first.
mountsUnder() {
  awk -v root="$root" '$2 == root || index($2, root "/") == 1 { print $2 }' /proc/self/mounts |
    sort -r
}
# Ends what still runs inside the root (a test's leftover child, say) and unmounts everything
# below it, lazily when a mount is still busy.
release() {
  local proc
  for proc in /proc/[0-9]*; do
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ]; then
      kill -KILL "${proc#/proc/}" 2>/dev/null || true
    fi
  done
  local mount
  for mount in $(mountsUnder); do
    umount "$mount" 2>/dev/null || umount -l "$mount"
  done
}
trap release EXIT

release
if [ -n "$(mountsUnder)" ]; then
  echo "fresh-machine: cannot unmount what is mounted below $root:" >&2
  mountsUnder >&2
  exit 1
fi
rm -rf --one-file-system "$root"
mkdir -p "$work"
: > "$log"

step() {
  local what=$1
  shift
  local began=$SECONDS
  echo "fresh-machine: $what" >> "$log"
  if ! "$@" >> "$log" 2>&1; then
    echo "fresh-machine: failed after $((SECONDS - start)) s: $what; the end of $log:" >&2
    tail -n 80 "$log" >&2
    exit 1
  fi
  echo "fresh-machine: $what ($((SECONDS - began)) s)"
}

step "debootstrap --variant=minbase bookworm" \
  debootstrap --variant=minbase --cache-dir="$cache" bookworm "$root" "$mirror"
# The sources an installed Debian 12 has: the release, its updates and its security updates.
cat > "$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
SOURCES
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
if mountpoint -q /dev/shm; then
  mount --bind /dev/shm "$root/dev/shm"
fi
mount --bind "$cache" "$root/var/cache/apt/archives"

step "git clone of $commit" \
  sh -c 'git clone --quiet --no-hardlinks --no-checkout "$1" "$2" && git -C "$2" checkout --quiet --detach "$3"' \
  sh "$PWD" "$root/root/kivlog" "$commit"

# The README's commands, each in a fresh shell from the clone's root, as a user types them.
commands=$(bash scripts/readme-check.sh --repo-commands "$root/root/kivlog/README.md")
# What the packages put in place, alone: the copy that `cmake --install build/release` made in
# /usr/local goes first.
cat > "$root/root/installed.sh" <<'INSTALLED'
set -euo pipefail
cd /root/kivlog
xargs -d '\n' rm -f < build/release/install_manifest.txt
hash -r
[ "$(command -v kivlog)" = /usr/bin/kivlog ]
(cd examples && kivlog -r -f kiv_log.elf -i sample.log 2>/dev/null) | cmp - examples/sample.expected
man kivlog > /tmp/kivlog.man
grep -q '^NAME' /tmp/kivlog.man
if ls build/package/python3-kivlog_*.deb >/dev/null 2>&1; then
  python3 -c 'import kivlog'
  echo "the Python module imports"
fi
bash scripts/cpp-example.sh
INSTALLED

inRoot() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" < /dev/null
}
while IFS= read -r command; do
  step "$command" inRoot bash -euo pipefail -c "cd /root/kivlog && $command"
done <<< "$commands"
step "the installed packages: kivlog, man kivlog, the Python module, the C++ example" \
  inRoot bash /root/installed.sh
echo "fresh-machine: passed in $((SECONDS - start)) s"
