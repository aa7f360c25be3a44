#!/usr/bin/env bash
# Makes sure the Debian packages a build needs are installed.
#   scripts/deps.sh demo   compiler, CMake and Ninja
#   scripts/deps.sh test   the above plus GoogleTest/GoogleMock, and a JSON parser, jq and lnav for
#                          the tests
#   scripts/deps.sh ci     the above plus clang and its fuzzing runtime, valgrind, pkg-config for
#                          the C++ example, and debootstrap for the fresh-machine stage
#   scripts/deps.sh bench  test's packages plus Google Benchmark and GNU time
#   scripts/deps.sh package  demo's packages plus the Debian package tools (CPack's DEB generator
#                          reads binaries with file and dpkg-shlibdeps), the manual's linters and man
#   scripts/deps.sh example  demo's packages plus pkg-config, for examples/cpp
# As root it installs what is missing; otherwise it prints the one apt-get line to run.
set -euo pipefail

packages=(g++ cmake ninja-build)
case "${1:-demo}" in
  demo) ;;
  test) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq lnav) ;;
  ci) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq lnav clang libclang-rt-14-dev valgrind
                 pkg-config debootstrap) ;;
  bench) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq libbenchmark-dev time) ;;
  package) packages+=(dpkg-dev file binutils groff-base mandoc man-db) ;;
  example) packages+=(pkg-config) ;;
  *) echo "usage: $0 [demo|test|ci|bench|package|example]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing build packages. Install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
