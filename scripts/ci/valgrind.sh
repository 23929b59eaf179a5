#!/usr/bin/env bash
# Builds the C test suite into build/valgrind and runs every test program under valgrind
# memcheck (ctest runs them through the emulator set by the 'valgrind' preset); any memory error
# or leak fails the test. Each GoogleTest program runs all its cases in one process (the preset
# sets WAVELIBS_TEST_PER_PROGRAM: a process start costs about 2 s under valgrind). The exhaustive
# ibmfloat sweep is strided.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
cmake --preset valgrind
cmake --build --preset valgrind
ctest --preset valgrind -j 2
