// The array routines (check_sum, diff_2nd, diff_2nd_r, rem_2nd_diff) over 16 Mi samples, beside the plain
// reference loops and memcpy of the same buffer. Bytes per second count the buffer once (64 MiB
// per pass) for every entry, memcpy included, so the ratios compare times over the same buffer.
#include "bench_data.h"
#include "forced_kernels.h"
#include "kernels.h"
#include "reference_codec.h"
#include "wavecodec.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

const std::vector<int32_t> &trace() {
    static const std::vector<int32_t> data = bench::seismic_trace(bench::kArrayCount);
    return data;
}

// The trace scaled to magnitudes of 2.5e7 to 7e7: the running sum crosses eight digits every few
// samples, so blocks can seldom be summed at once (the checksum's slow case).
const std::vector<int32_t> &large_values() {
    static const std::vector<int32_t> data = [] {
        std::vector<int32_t> v = trace();
        for (int32_t &x : v) {
            x = x * 400 + (x >= 0 ? 50000000 : -50000000) / 2;
        }
        return v;
    }();
    return data;
}

void set_rates(benchmark::State &state, size_t count) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(count * sizeof(int32_t)));
}

void memcpy_limit(benchmark::State &state) {
    const std::vector<int32_t> &source = trace();
    std::vector<int32_t> target(source.size(), 1);  // pages touched before timing
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size() * sizeof(int32_t));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    set_rates(state, source.size());
}

template <int (*Sum)(const int32_t *, int, int)>
void check_sum_on(benchmark::State &state, const std::vector<int32_t> &data) {
    for (auto _ : state) {
        int sum = Sum(data.data(), static_cast<int>(data.size()), 0);
        benchmark::DoNotOptimize(sum);
    }
    set_rates(state, data.size());
}

void check_sum_library(benchmark::State &state) {
    check_sum_on<check_sum>(state, trace());
}
void check_sum_reference(benchmark::State &state) {
    check_sum_on<reference::check_sum>(state, trace());
}
void check_sum_large_library(benchmark::State &state) {
    check_sum_on<check_sum>(state, large_values());
}
void check_sum_large_reference(benchmark::State &state) {
    check_sum_on<reference::check_sum>(state, large_values());
}

// The in-place routines run over the same buffer pass after pass; their cost does not depend on
// the values, so the drifting contents do not matter.
template <typename Routine>
void in_place(benchmark::State &state, Routine routine) {
    std::vector<int32_t> data = trace();
    for (auto _ : state) {
        routine(data.data(), static_cast<int>(data.size()));
        benchmark::ClobberMemory();
    }
    set_rates(state, data.size());
}

void diff_2nd_library(benchmark::State &state) {
    in_place(state, [](int32_t *s, int n) { diff_2nd(s, n, 0); });
}
// A new series each pass, its state the caller's.
void diff_2nd_r_library(benchmark::State &state) {
    in_place(state, [](int32_t *s, int n) {
        diff_2nd_state series;
        diff_2nd_r(&series, s, n, 0);
    });
}
void diff_2nd_reference(benchmark::State &state) {
    in_place(state, reference::diff_2nd);
}
void rem_2nd_diff_library(benchmark::State &state) {
    in_place(state, rem_2nd_diff);
}
void rem_2nd_diff_reference(benchmark::State &state) {
    in_place(state, reference::rem_2nd_diff);
}

const bool registered = [] {
    bench::add_choice(wavecodec::diff_family);
    bench::add_choice(wavecodec::prefix_sums_family);
    bench::register_forced(wavecodec::diff_family, "diff_2nd", diff_2nd_library);
    bench::register_forced(wavecodec::diff_family, "diff_2nd_r", diff_2nd_r_library);
    bench::register_forced(wavecodec::prefix_sums_family, "rem_2nd_diff", rem_2nd_diff_library);
    return true;
}();

}  // namespace

BENCHMARK(memcpy_limit)->Name("memcpy/limit")->Unit(benchmark::kMillisecond);
BENCHMARK(check_sum_library)->Name("check_sum/library")->Unit(benchmark::kMillisecond);
BENCHMARK(check_sum_reference)->Name("check_sum/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(check_sum_large_library)->Name("check_sum_large/library")->Unit(benchmark::kMillisecond);
BENCHMARK(check_sum_large_reference)
    ->Name("check_sum_large/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(diff_2nd_library)->Name("diff_2nd/library")->Unit(benchmark::kMillisecond);
BENCHMARK(diff_2nd_reference)->Name("diff_2nd/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(diff_2nd_r_library)->Name("diff_2nd_r/library")->Unit(benchmark::kMillisecond);
BENCHMARK(rem_2nd_diff_library)->Name("rem_2nd_diff/library")->Unit(benchmark::kMillisecond);
BENCHMARK(rem_2nd_diff_reference)->Name("rem_2nd_diff/reference")->Unit(benchmark::kMillisecond);
