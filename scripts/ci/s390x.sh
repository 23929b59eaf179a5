#!/usr/bin/env bash
# Cross-builds the libraries and the C test suite for s390x (64-bit big-endian) into build/s390x
# and runs the suite under qemu user emulation: every result must be the same as on the host.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
cmake --preset s390x
cmake --build --preset s390x
# The exported-symbol checks read the s390x libraries with the s390x binutils; the exhaustive
# ibmfloat sweep is strided under emulation.
ctest --preset s390x -j 2
