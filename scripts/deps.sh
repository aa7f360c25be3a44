#!/usr/bin/env bash
# Makes sure the Debian packages a build needs are installed.
#   scripts/deps.sh demo   compiler, CMake, Ninja and pkg-config, and the compression libraries the
#                          tool reads compressed captures with (zlib, libzstd, liblzma)
#   scripts/deps.sh test   the above plus GoogleTest/GoogleMock, a JSON parser, jq and lnav, the
#                          gzip, zstd and xz tools that make the tests' compressed captures, and
#                          pybind11 and Python's headers for the Python module
#   scripts/deps.sh ci     the above plus clang and its fuzzing runtime, valgrind, pytest, Dask and
#                          pandas for the Python examples, and debootstrap for the fresh-machine
#                          stage
#   scripts/deps.sh bench  test's packages plus Google Benchmark and GNU time (the compression
#                          tools also make the benchmark's compressed cases)
#   scripts/deps.sh package  demo's packages plus the Debian package tools (CPack's DEB generator
#                          reads binaries with file and dpkg-shlibdeps), the manual's linters and
#                          man, and pybind11 and Python's headers for the Python module's package
#   scripts/deps.sh example  demo's packages, for examples/cpp (pkg-config among them)
# As root it installs what is missing; otherwise it prints the one apt-get line to run.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config zlib1g-dev libzstd-dev liblzma-dev)
compressors=(gzip zstd xz-utils)
python=(pybind11-dev python3-dev)
case "${1:-demo}" in
  demo) ;;
  test) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq lnav "${compressors[@]}"
                   "${python[@]}") ;;
  ci) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq lnav "${compressors[@]}"
                 "${python[@]}" clang libclang-rt-14-dev valgrind python3-pytest
                 python3-distributed python3-pandas debootstrap) ;;
  bench) packages+=(libgtest-dev libgmock-dev nlohmann-json3-dev jq "${compressors[@]}"
                    "${python[@]}" libbenchmark-dev time) ;;
  package) packages+=(dpkg-dev file binutils groff-base mandoc man-db "${python[@]}") ;;
  example) ;;
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
