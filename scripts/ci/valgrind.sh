#!/usr/bin/env bash
# Runs every C test program of the release build (the unit mode's, built here when this mode runs
# alone) under valgrind memcheck: the 'valgrind' test preset runs each program through
# tests/launch.sh with WAVELIBS_TEST_EMULATOR set to valgrind; any memory error or leak fails the
# test. Each GoogleTest program runs all its cases in one process (the preset takes the tests
# labelled "program": a process start costs about 2 s under valgrind). The exhaustive ibmfloat
# sweeps are strided. The programs are the optimised ones the other modes test, without debug
# information: for reports with source lines, configure a tree with -DCMAKE_BUILD_TYPE=
# RelWithDebInfo and run `ctest -LE case` there with the same WAVELIBS_TEST_EMULATOR.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
# The same configuration as the unit mode's, so that its build is reused as it stands.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON \
  -DWAVELIBS_TESTS=ON >/dev/null
cmake --build build/release -j 2
ctest --preset valgrind -j 2
