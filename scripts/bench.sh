#!/usr/bin/env bash
# bench.sh [BENCHMARK OPTION...]: builds the benchmarks in build/bench (Release), runs
# wavecodec_bench and ibmfloat_bench with repetitions (BENCH_REPETITIONS, default 5) and prints
# the results in Markdown; in docs/performance.md they replace the section of this CPU's kind
# (x86-64 with AVX-512, with AVX2 only, ...), or are added as a new one. Repetitions are
# interleaved at random, so that a busy spell of a shared machine spreads over every entry.
# Options go to both programs, e.g. --benchmark_filter=check_sum (the section then holds only
# those entries).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build bench

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_BENCH=ON \
  -DWAVELIBS_TESTS=OFF >/dev/null
cmake --build build/bench -j2

results=()
for program in wavecodec_bench ibmfloat_bench; do
  json=build/bench/$program.json
  "build/bench/bench/$program" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
    --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
    --benchmark_out="$json.tmp" \
    --benchmark_out_format=json "$@" >&2
  mv "$json.tmp" "$json"
  results+=("$json")
done

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
python3 bench/results_table.py "${results[@]}" --compiler "$("${compiler:-c++}" --version | head -n 1)" \
  --update docs/performance.md
