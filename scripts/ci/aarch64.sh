#!/usr/bin/env bash
# Cross-builds the libraries and the C test suite for aarch64 (64-bit ARM) into build/aarch64
# and runs the suite under qemu user emulation: no x86 kernel exists there, so every routine runs
# its portable kernel (the vector kernels' tests report skipped) and must give the host's results.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
cmake --preset aarch64
cmake --build --preset aarch64
# The exported-symbol checks read the aarch64 libraries with the aarch64 binutils; the exhaustive
# ibmfloat sweep is strided under emulation.
ctest --preset aarch64 -j 2
