#!/usr/bin/env bash
# What `cmake --install` puts in place, installed into a scratch DESTDIR with the prefix /usr that
# the Debian package uses: exactly the expected files with their modes, a binary that runs, and a
# manual page and a completion that are the ones in the source tree.
#   install_tree_test.sh <build folder> <source folder> [<Python module file> <python>]
# With a Python module, also that it is installed and decodes, finding the installed library.
set -uo pipefail
build=$1
source=$2
module=${3:-}
python=${4:-}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null || {
  echo "FAIL: cmake --install"
  echo "0 passed, 1 failed"
  exit 1
}

expected='/usr/bin/kivlog 755
/usr/bin/kivlog-uart 755
/usr/include/kivlog/Decoder.h 644
/usr/include/kivlog/Events.h 644
/usr/include/kivlog/Export.h 644
/usr/lib/cmake/kivlog/kivlog-config-version.cmake 644
/usr/lib/cmake/kivlog/kivlog-config.cmake 644
/usr/lib/cmake/kivlog/kivlog-targets-CONFIG.cmake 644
/usr/lib/cmake/kivlog/kivlog-targets.cmake 644
/usr/lib/libkivlog.so.4.3.0 644
/usr/lib/pkgconfig/kivlog.pc 644
/usr/share/bash-completion/completions/kivlog 644
/usr/share/cmake/kivlog-firmware/kivlog-firmware-config.cmake 644
/usr/share/doc/kivlog/changelog.gz 644
/usr/share/doc/kivlog/copyright 644
/usr/share/doc/libkivlog-dev/changelog.gz 644
/usr/share/doc/libkivlog-dev/copyright 644
/usr/share/doc/libkivlog4/changelog.gz 644
/usr/share/doc/libkivlog4/copyright 644
/usr/share/kivlog/firmware/README.md 644
/usr/share/kivlog/firmware/cmake/kivlog-firmware-config.cmake 644
/usr/share/kivlog/firmware/host/kivlog_host.c 644
/usr/share/kivlog/firmware/host/kivlog_host.h 644
/usr/share/kivlog/firmware/include/kivlog/kivlog.h 644
/usr/share/kivlog/firmware/kivlog-flash.ld 644
/usr/share/kivlog/firmware/kivlog.ld 644
/usr/share/kivlog/firmware/wire/kivlog_ring.c 644
/usr/share/kivlog/firmware/wire/kivlog_ring.h 644
/usr/share/kivlog/firmware/wire/kivlog_wire.c 644
/usr/share/kivlog/firmware/wire/kivlog_wire.h 644
/usr/share/kivlog/lnav/kivlog_jsonl.json 644
/usr/share/kivlog/lnav/kivlog_log.json 644
/usr/share/lintian/overrides/kivlog 644
/usr/share/lintian/overrides/libkivlog4 644
/usr/share/man/man1/kivlog-uart.1.gz 644
/usr/share/man/man1/kivlog.1.gz 644'
if [ -n "$module" ]; then
  expected=$(printf '%s\n%s\n' "$expected" "/usr/lib/python3/dist-packages/$module 644" | LC_ALL=C sort)
fi
# The targets file of the build's configuration is named after it.
installed=$(cd "$root" && find . -type f -printf '/%P %m\n' |
  sed 's/kivlog-targets-[a-z]*\.cmake/kivlog-targets-CONFIG.cmake/' | LC_ALL=C sort)
# A build with the Python module installs its package's copyright and changelog as well.
if [ -d "$root/usr/lib/python3/dist-packages" ]; then
  expected=$(printf '%s\n' "$expected" "/usr/share/doc/python3-kivlog/changelog.gz 644" \
    "/usr/share/doc/python3-kivlog/copyright 644" | LC_ALL=C sort)
fi
check "installed files:
$installed" test "$installed" = "$expected"

check "the library's names link to it" \
  test "$(readlink "$root/usr/lib/libkivlog.so.4")/$(readlink "$root/usr/lib/libkivlog.so")" = \
    "libkivlog.so.4.3.0/libkivlog.so.4"
check "the installed binary prints its usage" \
  sh -c '"$1" -h | grep -q "^Usage: kivlog "' sh "$root/usr/bin/kivlog"
check "the installed manual page is the source's" \
  sh -c 'gzip -dc "$1" | cmp -s - "$2"' sh "$root/usr/share/man/man1/kivlog.1.gz" "$source/packaging/kivlog.1"
check "the installed manual page of kivlog-uart is the source's" \
  sh -c 'gzip -dc "$1" | cmp -s - "$2"' sh "$root/usr/share/man/man1/kivlog-uart.1.gz" "$source/packaging/kivlog-uart.1"
check "the installed completion is the source's" \
  cmp -s "$root/usr/share/bash-completion/completions/kivlog" "$source/packaging/kivlog.bash-completion"
check "the installed changelog is the source's" \
  sh -c 'gzip -dc "$1" | cmp -s - "$2"' sh "$root/usr/share/doc/kivlog/changelog.gz" "$source/packaging/changelog"
for format in kivlog_log kivlog_jsonl; do
  check "the installed lnav format $format is the source's" \
    cmp -s "$root/usr/share/kivlog/lnav/$format.json" "$source/packaging/lnav/$format.json"
done

if [ -n "$module" ]; then
  check "the installed Python module looks for libkivlog in <prefix>/lib" \
    sh -c 'readelf -d "$1" | grep -q "R.*PATH.*\[\$ORIGIN/\.\./\.\.\]"' \
    sh "$root/usr/lib/python3/dist-packages/$module"
  check "the installed Python module decodes with the installed library" \
    sh -c 'cd "$3/examples" && PYTHONPATH="$1/usr/lib/python3/dist-packages" "$2" -c "
import kivlog
assert kivlog.__file__.startswith(\"$1/\")
assert len(list(kivlog.Decoder(elf=\"kiv_log.elf\").decode_file(\"sample.log\"))) > 10"' \
    sh "$root" "$python" "$source"
fi

# The kit's CMake package, found from the installed tree as a firmware project finds it.
project=$(mktemp -d)
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(uses_kit C)
find_package(kivlog-firmware REQUIRED)
add_executable(uses_kit main.c)
kivlog_firmware_core(uses_kit CORE 0)
EOF
cat >"$project/main.c" <<'EOF'
#include "kivlog/kivlog.h"
#include "kivlog_wire.h"
int main(void) {
  unsigned char frame[KIVLOG_WIRE_RECORD_FRAME];
  const kivlog_record_t record = {0, 0, 0, 0, 0};
  return kivlog_wire_record(frame, &record) == KIVLOG_WIRE_RECORD_FRAME ? 0 : 1;
}
EOF
check "a project builds with find_package(kivlog-firmware) from the installed tree" \
  sh -c 'cmake -S "$1" -B "$1/build" -G Ninja -DCMAKE_PREFIX_PATH="$2/usr" >/dev/null &&
         cmake --build "$1/build" >/dev/null && "$1/build/uses_kit"' sh "$project" "$root"
rm -rf "$project"

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
