#!/usr/bin/env bash
# bench.sh [BENCHMARK OPTION...]: builds the benchmarks in build/bench (Release), runs
# wavecodec_bench with repetitions (BENCH_REPETITIONS, default 5) and prints the results table in
# Markdown; the table in docs/performance.md is replaced by it. Options go to the benchmark
# program, e.g. --benchmark_filter=check_sum (the table then holds only those entries).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build bench

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DWAVELIBS_BENCH=ON \
  -DWAVELIBS_TESTS=OFF >/dev/null
cmake --build build/bench -j2

json=build/bench/wavecodec_bench.json
build/bench/bench/wavecodec_bench --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true --benchmark_out="$json.tmp" \
  --benchmark_out_format=json "$@" >&2
mv "$json.tmp" "$json"

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
python3 bench/results_table.py "$json" --compiler "$("${compiler:-c++}" --version | head -n 1)" \
  --update docs/performance.md
