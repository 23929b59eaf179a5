#!/usr/bin/env bash
# Builds the C test suite once into build/qemu-cpus and runs it under qemu user emulation as
# processors that lack features the machine has, so that a kernel reachable without a feature
# its code uses dies with SIGILL and fails the run:
#   Haswell,-popcnt  AVX2 (emulated) without POPCNT: the AVX2 kernels that count bits must be
#                    skipped, the others run
#   Nehalem          SSE4.2 and POPCNT but no AVX: only the portable kernels run
# qemu emulates no AVX-512, so the AVX-512 kernels report skipped here; the exhaustive ibmfloat
# sweeps are strided under emulation.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build test check
cmake --preset qemu-cpus
cmake --build --preset qemu-cpus
# The test presets set QEMU_CPU, which qemu-x86_64 reads as its -cpu option.
for preset in qemu-haswell-nopopcnt qemu-nehalem; do
  echo "--- C suite under qemu-x86_64, preset $preset"
  ctest --preset "$preset" -j 2
done
