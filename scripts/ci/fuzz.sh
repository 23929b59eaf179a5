#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build/fuzz and runs each for a
# bounded time, FUZZ_SECONDS (default 20) per target, two targets at a time (one a core: each
# target gets the processor time it would get alone); any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh build check
# Start from the seeds every time, so a run's length and result depend on this commit only.
rm -rf build/fuzz/corpus build/fuzz/findings
bash fuzz/run.sh -t "${FUZZ_SECONDS:-20}" -p 2
