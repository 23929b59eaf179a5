#!/usr/bin/env bash
# Runs the release build's C test suite (built here unless the unit mode built it already) under
# qemu user emulation as processors that lack features the machine has, so that a kernel
# reachable without a feature its code uses dies with SIGILL and fails the run:
#   Haswell,-popcnt  AVX2 (emulated) without POPCNT: the AVX2 kernels that count bits must be
#                    skipped, the others run
#   Nehalem          SSE4.2 and POPCNT but no AVX: only the portable kernels run
# qemu emulates no AVX-512, so the AVX-512 kernels report skipped here; the exhaustive ibmfloat
# sweeps are strided under emulation.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
# The same configuration as the unit mode's, so that its build is reused as it stands.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_WERROR=ON -DWAVELIBS_TESTS=ON
cmake --build build/release
# The test presets set WAVELIBS_TEST_EMULATOR, through which tests/launch.sh runs each test
# program, and QEMU_CPU, which qemu-x86_64 reads as its -cpu option.
for preset in qemu-haswell-nopopcnt qemu-nehalem; do
  echo "--- C suite under qemu-x86_64, preset $preset"
  ctest --preset "$preset" -j 2
done
