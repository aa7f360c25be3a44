#!/usr/bin/env bash
# Runs the test suite of build/test (scripts/test.sh builds it) once under valgrind, the kivlog
# processes the tests start included. It finds reads of uninitialised memory in the optimised
# build, which the AddressSanitizer run cannot see; any valgrind error fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh ci
build=build/test
[ -x "$build/tests/kivlog_tests" ] || { echo "valgrind.sh: build the tests first (scripts/test.sh)" >&2; exit 2; }

# Children other than kivlog and kivlog-uart (compilers, shells, QEMU) run as they are. Valgrind
# starts a child with its program path as argv[0], so the test that sets its own program name is left out, and
# so is the progress line's test, which needs the child to read its input more than a second
# after it started reading, and valgrind's start-up takes up the second it holds the child for.
run=(valgrind -q --trace-children=yes --error-exitcode=99
     --trace-children-skip='*/cc1*,*clang*,*/as,*/ld,*/ld.*,*/collect2,*gcc*,*g++*,*c++*,*/cc,*qemu*,*/sh,*/bash,*/make,*/cmake,*/ninja,*/gzip,*/zstd,*/xz')
"${run[@]}" "$build/tests/kivlog_tests" \
  --gtest_filter=-FrontEndE2E.UsageTextAnswersHelpUnrecognisedArgumentsAndCommandLineErrors:ProgressE2E.* \
  --gtest_brief=1
"${run[@]}" "$build/bench/kivlog_workload_tests" --gtest_brief=1
