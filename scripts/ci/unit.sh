#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the C test suite, one ctest test per
# GoogleTest case (the 'release' test preset), the exhaustive ibmfloat sweeps included.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON -DWAVELIBS_TESTS=ON
cmake --build build/release -j 2
ctest --preset release -j 2
