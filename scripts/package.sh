#!/usr/bin/env bash
# Builds the Debian package: build/package/kivlog_<version>_<arch>.deb.
#   scripts/package.sh            build the package
#   scripts/package.sh --check    also lint the manual page, unpack the package into a scratch root
#                                 and decode the shipped sample with the unpacked binary
#   scripts/package.sh --lintian  also run lintian on the package (installs lintian as root)
# The build's date and time in the version banner come from SOURCE_DATE_EPOCH, by default the time
# of the last commit (outside git, of the changelog's latest entry), so that the packaged binary is
# the same in every build of that commit.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
case "$mode" in
  "" | --check | --lintian) ;;
  *) echo "usage: $0 [--check|--lintian]" >&2; exit 2 ;;
esac
bash scripts/deps.sh package

version=$(sed -n 's/^project(kivlog VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
changelogVersion=$(sed -n '1s/^kivlog (\([^)]*\)).*/\1/p' packaging/changelog)
if [ "$version" != "$changelogVersion" ]; then
  echo "packaging/changelog: its latest entry is $changelogVersion, the project is $version" >&2
  exit 1
fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  else
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
  fi
  export SOURCE_DATE_EPOCH
fi

# Debian's build flags, hardening included, on top of the Release build.
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

dir=build/package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build "$dir"
rm -f "$dir"/kivlog_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/kivlog_*.deb)
echo "Built $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

if [ "$mode" = --lintian ]; then
  if ! command -v lintian >/dev/null && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian >/dev/null
  fi
  lintian --pedantic -I -E --fail-on error,warning "$deb"
fi

if [ "$mode" = --check ]; then
  # The manual page renders without a warning in both formatters.
  groffWarnings=$(groff -ww -man -z packaging/kivlog.1 2>&1)
  if [ -n "$groffWarnings" ]; then
    echo "groff -ww -man: $groffWarnings" >&2
    exit 1
  fi
  mandoc -T lint packaging/kivlog.1
  echo "The manual page lints clean"

  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  dpkg -x "$deb" "$root"
  expected='./usr/bin/kivlog
./usr/bin/kivlog-uart
./usr/share/bash-completion/completions/kivlog
./usr/share/cmake/kivlog-firmware/kivlog-firmware-config.cmake
./usr/share/doc/kivlog/changelog.gz
./usr/share/doc/kivlog/copyright
./usr/share/kivlog/firmware/README.md
./usr/share/kivlog/firmware/cmake/kivlog-firmware-config.cmake
./usr/share/kivlog/firmware/host/kivlog_host.c
./usr/share/kivlog/firmware/host/kivlog_host.h
./usr/share/kivlog/firmware/include/kivlog/kivlog.h
./usr/share/kivlog/firmware/kivlog-flash.ld
./usr/share/kivlog/firmware/kivlog.ld
./usr/share/kivlog/firmware/wire/kivlog_ring.c
./usr/share/kivlog/firmware/wire/kivlog_ring.h
./usr/share/kivlog/firmware/wire/kivlog_wire.c
./usr/share/kivlog/firmware/wire/kivlog_wire.h
./usr/share/lintian/overrides/kivlog
./usr/share/man/man1/kivlog.1.gz'
  unpacked=$(cd "$root" && find . -type f | LC_ALL=C sort)
  if [ "$unpacked" != "$expected" ]; then
    echo "The package holds:" >&2
    echo "$unpacked" >&2
    exit 1
  fi
  (cd examples && "$root/usr/bin/kivlog" -r -f kiv_log.elf -i sample.log 2>/dev/null) | cmp - examples/sample.expected
  echo "The unpacked binary decodes the shipped sample as expected"
fi
