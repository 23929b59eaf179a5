// Throughput of IBM-to-IEEE conversion over 16 Mi words in place: each kernel this CPU can run,
// the public entry, memcpy of the same buffer, and a plain per-word baseline using pow().
// Every iteration first restores the buffer to the original IBM words with the timer paused
// (after one pass it holds IEEE floats), so all variants start from the same data and cache state.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ibmfloat.h"
#include "kernels.h"

namespace {

constexpr size_t kWords = size_t{16} << 20;
constexpr int64_t kBytes = static_cast<int64_t>(kWords * sizeof(uint32_t));

// The IBM word nearest below |x| (fraction truncated), for x of ordinary size.
uint32_t ibm_from_double(double x) {
    if (x == 0.0) {
        return 0;
    }
    const uint32_t sign = x < 0 ? 0x80000000u : 0u;
    double magnitude = std::fabs(x);
    uint32_t exponent = 64;
    while (magnitude >= 1.0) {
        magnitude /= 16.0;
        exponent += 1;
    }
    while (magnitude < 1.0 / 16.0) {
        magnitude *= 16.0;
        exponent -= 1;
    }
    return sign | (exponent << 24) | static_cast<uint32_t>(std::ldexp(magnitude, 24));
}

// Seismic-like amplitudes: magnitudes spread evenly in log scale over 1e-3..1e5, both signs.
struct Buffers {
    std::vector<uint32_t> original = std::vector<uint32_t>(kWords);
    std::vector<uint32_t> work = std::vector<uint32_t>(kWords);
    std::vector<uint32_t> copy = std::vector<uint32_t>(kWords);

    Buffers() {
        std::mt19937_64 random(20261208);
        std::uniform_real_distribution<double> decades(-3.0, 5.0);
        for (uint32_t &w : original) {
            const double magnitude = std::pow(10.0, decades(random));
            w = ibm_from_double((random() & 1) != 0 ? -magnitude : magnitude);
        }
    }
};

Buffers &buffers() {
    static Buffers b;
    return b;
}

template <typename Convert>
void run_in_place(benchmark::State &state, Convert convert) {
    Buffers &b = buffers();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(b.work.data(), b.original.data(), kBytes);
        state.ResumeTiming();
        convert(b.work.data());
        benchmark::DoNotOptimize(b.work.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_memcpy(benchmark::State &state) {
    Buffers &b = buffers();
    run_in_place(state, [&b](uint32_t *words) { std::memcpy(b.copy.data(), words, kBytes); });
}

void BM_kernel(benchmark::State &state, ibmfloat::Kernel kernel) {
    run_in_place(state, [kernel](uint32_t *words) { kernel(words, kWords); });
}

void BM_ibm2ieee(benchmark::State &state) {
    run_in_place(state, [](uint32_t *words) { ibm2ieee(words, static_cast<int>(kWords)); });
}

// The plain method: 16^(e - 64) from pow() per word, rounded to float, times the signed fraction.
void BM_baseline_pow(benchmark::State &state) {
    run_in_place(state, [](uint32_t *words) {
        for (size_t i = 0; i < kWords; ++i) {
            const uint32_t w = words[i];
            const auto scale =
                static_cast<float>(std::pow(16.0, static_cast<int>((w >> 24) & 0x7fu) - 64));
            float fraction = static_cast<float>(w & 0x00ffffffu) / 16777216.0f;
            if ((w & 0x80000000u) != 0) {
                fraction = -fraction;
            }
            const float value = scale * fraction;
            std::memcpy(&words[i], &value, sizeof value);
        }
    });
}

bool register_all() {
    benchmark::RegisterBenchmark("memcpy/limit", BM_memcpy);
    for (ibmfloat::Path path : ibmfloat::kAllPaths) {
        const ibmfloat::Kernel kernel = ibmfloat::kernel_for(path);
        if (kernel != nullptr && ibmfloat::cpu_supports(path)) {
            benchmark::RegisterBenchmark(
                (std::string("ibm2ieee/") + ibmfloat::path_name(path)).c_str(), BM_kernel, kernel);
        }
    }
    benchmark::RegisterBenchmark("ibm2ieee/library", BM_ibm2ieee);
    benchmark::RegisterBenchmark("ibm2ieee/reference", BM_baseline_pow);
    return true;
}

const bool registered = register_all();

}  // namespace
