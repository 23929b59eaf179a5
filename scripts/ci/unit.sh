#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the C test suite.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON -DWAVELIBS_TESTS=ON
cmake --build build/release
ctest --test-dir build/release --output-on-failure -j "$(nproc)"
