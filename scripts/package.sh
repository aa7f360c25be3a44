#!/usr/bin/env bash
# Builds the Debian packages in build/package/, each <name>_<version>_<arch>.deb:
#   kivlog          the tool: kivlog, kivlog-uart, the manual page, the completion, the lnav
#                   formats and the firmware kit
#   libkivlog4      the shared library, in the multiarch library folder
#   libkivlog-dev   the headers, the library's name link, the CMake package and kivlog.pc
#   python3-kivlog  the Python module, when the build has it
#   scripts/package.sh            build the packages
#   scripts/package.sh --check    also lint the manual page, check what each package holds and
#                                 depends on, unpack them into a scratch root and decode the
#                                 shipped sample with the unpacked binary (and import the module)
#   scripts/package.sh --lintian  also run lintian on the packages (installs lintian as root)
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
  if command -v git >/dev/null && git rev-parse --git-dir >/dev/null 2>&1; then
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
# The library goes where the loader looks on this architecture (/usr/lib/x86_64-linux-gnu), so
# the programs and the module need no RPATH, which Debian does not allow.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

dir=build/package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVLOG_TESTS=OFF \
  "-DCMAKE_INSTALL_LIBDIR=lib/$multiarch" -DKIVLOG_INSTALL_RPATH=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build "$dir"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)

# CPack has the library's package refresh the loader's cache with ldconfig calls in postinst and
# postrm as well as with dpkg's ldconfig trigger, which is Debian's way: the package is made
# again without the scripts.
libPackage=libkivlog${version%%.*}
arch=$(dpkg --print-architecture)
libDeb=$dir/${libPackage}_${version}_$arch.deb
tree=$(mktemp -d)
dpkg-deb --raw-extract "$libDeb" "$tree/package"
rm "$tree/package/DEBIAN/postinst" "$tree/package/DEBIAN/postrm"
dpkg-deb --root-owner-group -Zxz --build "$tree/package" "$libDeb" >/dev/null
rm -rf "$tree"

packages=(kivlog "$libPackage" libkivlog-dev)
if grep -q '^KIVLOG_PYTHON:BOOL=ON$' "$dir/CMakeCache.txt"; then
  packages+=(python3-kivlog)
fi
debs=()
for package in "${packages[@]}"; do
  debs+=("$dir/${package}_${version}_$arch.deb")
done
built=$(ls "$dir"/*.deb | LC_ALL=C sort)
if [ "$built" != "$(printf '%s\n' "${debs[@]}" | LC_ALL=C sort)" ]; then
  echo "CPack built:" >&2
  echo "$built" >&2
  echo "expected: ${debs[*]}" >&2
  exit 1
fi
for deb in "${debs[@]}"; do
  echo "Built $deb"
  dpkg-deb --field "$deb" Package Version Architecture Section Depends
done

if [ "$mode" = --lintian ]; then
  if ! command -v lintian >/dev/null && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian >/dev/null
  fi
  lintian --pedantic -I -E --fail-on error,warning "${debs[@]}"
fi

if [ "$mode" = --check ]; then
  # The manual pages render without a warning in both formatters.
  for page in packaging/kivlog.1 packaging/kivlog-uart.1; do
    groffWarnings=$(groff -ww -man -z "$page" 2>&1)
    if [ -n "$groffWarnings" ]; then
      echo "groff -ww -man $page: $groffWarnings" >&2
      exit 1
    fi
    mandoc -T lint "$page"
  done
  echo "The manual pages lint clean"

  lib=usr/lib/$multiarch
  expectedFiles() {
    case $1 in
      kivlog) echo "./usr/bin/kivlog
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
./usr/share/kivlog/lnav/kivlog_jsonl.json
./usr/share/kivlog/lnav/kivlog_log.json
./usr/share/lintian/overrides/kivlog
./usr/share/man/man1/kivlog-uart.1.gz
./usr/share/man/man1/kivlog.1.gz" ;;
      libkivlog[0-9]*) echo "./$lib/libkivlog.so.${version%%.*} -> libkivlog.so.$version.0
./$lib/libkivlog.so.$version.0
./usr/share/doc/$1/changelog.gz
./usr/share/doc/$1/copyright
./usr/share/lintian/overrides/$1" ;;
      libkivlog-dev) echo "./$lib/cmake/kivlog/kivlog-config-version.cmake
./$lib/cmake/kivlog/kivlog-config.cmake
./$lib/cmake/kivlog/kivlog-targets-release.cmake
./$lib/cmake/kivlog/kivlog-targets.cmake
./$lib/libkivlog.so -> libkivlog.so.${version%%.*}
./$lib/pkgconfig/kivlog.pc
./usr/include/kivlog/Decoder.h
./usr/include/kivlog/Events.h
./usr/include/kivlog/Export.h
./usr/share/doc/libkivlog-dev/changelog.gz
./usr/share/doc/libkivlog-dev/copyright" ;;
      python3-kivlog) echo "./usr/lib/python3/dist-packages/kivlog.<abi>.so
./usr/share/doc/python3-kivlog/changelog.gz
./usr/share/doc/python3-kivlog/copyright" ;;
    esac
  }
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  for package in "${packages[@]}"; do
    deb=$dir/${package}_${version}_$arch.deb
    mkdir "$root/$package"
    dpkg -x "$deb" "$root/$package"
    dpkg -x "$deb" "$root/all"
    held=$(cd "$root/$package" && find . ! -type d | while IFS= read -r file; do
      if [ -L "$file" ]; then echo "$file -> $(readlink "$file")"; else echo "$file"; fi
    done | sed 's/kivlog\.cpython-[^/]*\.so$/kivlog.<abi>.so/' | LC_ALL=C sort)
    if [ "$held" != "$(expectedFiles "$package" | LC_ALL=C sort)" ]; then
      echo "$deb holds:" >&2
      echo "$held" >&2
      exit 1
    fi
  done
  echo "Each package holds what it should"

  # What Debian's tools need of them: the library's package tells the packages of programs built
  # against it which package to depend on (shlibs) and lets dpkg refresh the loader's cache
  # (triggers); the others depend on the library's package of this very version.
  control=$(mktemp -d)
  dpkg-deb --control "$dir/${libPackage}_${version}_$arch.deb" "$control"
  expectShlibs="libkivlog ${version%%.*} $libPackage (= $version)"
  if [ "$(cat "$control/shlibs")" != "$expectShlibs" ] ||
    ! grep -qx 'activate-noawait ldconfig' "$control/triggers" ||
    [ -e "$control/postinst" ] || [ -e "$control/postrm" ]; then
    echo "$libPackage: shlibs \"$(cat "$control/shlibs")\", triggers \"$(cat "$control/triggers")\"," \
      "maintainer scripts: $(cd "$control" && ls)" >&2
    exit 1
  fi
  rm -rf "$control"
  for package in "${packages[@]}"; do
    [ "$package" = "$libPackage" ] && continue
    depends=$(dpkg-deb --field "$dir/${package}_${version}_$arch.deb" Depends)
    if [[ ", $depends, " != *", $libPackage (= $version), "* ]]; then
      echo "$package depends on \"$depends\", not on $libPackage (= $version)" >&2
      exit 1
    fi
  done
  echo "The packages depend on $libPackage (= $version), which has its shlibs and triggers"

  # The unpacked binary finds the unpacked library through LD_LIBRARY_PATH, as it finds the
  # installed one in the loader's own folder.
  export LD_LIBRARY_PATH=$root/all/$lib
  (cd examples && "$root/all/usr/bin/kivlog" -r -f kiv_log.elf -i sample.log 2>/dev/null) |
    cmp - examples/sample.expected
  echo "The unpacked binary decodes the shipped sample as expected"
  if [ -d "$root/python3-kivlog" ]; then
    PYTHONPATH=$root/all/usr/lib/python3/dist-packages /usr/bin/python3 -c 'import kivlog'
    echo "The unpacked Python module imports"
  fi
fi
