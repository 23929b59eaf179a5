// Throughput of the conversions over 16 Mi words through the public entry, with its own choice of
// kernel and with each kernel this CPU can run forced (forced_kernels.h):
// - IBM to IEEE single in place, against memcpy of the same buffer and a plain per-word baseline
//   using pow();
// - IEEE single to IBM in place, against the same memcpy and, when the build found it, segyio's
//   segy_from_native (which also stores the words big-endian);
// - IBM to double, out of place, against memcpy of the 128 MiB of doubles it writes;
// - double to IBM, out of place (bytes counted are the 128 MiB of doubles read), against memcpy
//   of those doubles and the route through float (a cast per double, then ieee2ibm), which
//   rounds twice.
// In-place iterations first restore the buffer to its original words with the timer paused, so
// all variants start from the same data and cache state.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "forced_kernels.h"
#include "ibmfloat.h"
#include "kernels.h"

#ifdef WAVELIBS_HAVE_SEGYIO
#include <segyio/segy.h>
#endif

namespace {

constexpr size_t kWords = size_t{16} << 20;
constexpr int64_t kBytes = static_cast<int64_t>(kWords * sizeof(uint32_t));
constexpr int64_t kDoubleBytes = static_cast<int64_t>(kWords * sizeof(double));

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

// Seismic-like amplitudes: magnitudes spread evenly in log scale over 1e-3..1e5, both signs;
// as IBM words and, for the other direction, as floats.
struct Buffers {
    std::vector<uint32_t> original = std::vector<uint32_t>(kWords);
    std::vector<uint32_t> floats = std::vector<uint32_t>(kWords);
    std::vector<uint32_t> work = std::vector<uint32_t>(kWords);
    std::vector<uint32_t> copy = std::vector<uint32_t>(kWords);

    Buffers() {
        std::mt19937_64 random(20261208);
        std::uniform_real_distribution<double> decades(-3.0, 5.0);
        for (size_t i = 0; i < kWords; ++i) {
            const double magnitude = std::pow(10.0, decades(random));
            const double value = (random() & 1) != 0 ? -magnitude : magnitude;
            original[i] = ibm_from_double(value);
            const auto as_float = static_cast<float>(value);
            std::memcpy(&floats[i], &as_float, sizeof as_float);
        }
    }
};

// The doubles that ibm2double writes, and a second buffer for memcpy of them.
struct DoubleBuffers {
    std::vector<double> out = std::vector<double>(kWords, 1.0);
    std::vector<double> copy = std::vector<double>(kWords, 1.0);
};

DoubleBuffers &double_buffers() {
    static DoubleBuffers b;
    return b;
}

Buffers &buffers() {
    static Buffers b;
    return b;
}

template <typename Convert>
void run_in_place(benchmark::State &state, Convert convert, bool from_floats = false) {
    Buffers &b = buffers();
    const uint32_t *source = from_floats ? b.floats.data() : b.original.data();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(b.work.data(), source, kBytes);
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

void BM_ieee2ibm(benchmark::State &state) {
    run_in_place(
        state, [](uint32_t *words) { ieee2ibm(words, static_cast<int>(kWords)); }, true);
}

#ifdef WAVELIBS_HAVE_SEGYIO
void BM_segy_from_native(benchmark::State &state) {
    run_in_place(
        state,
        [&state](uint32_t *words) {
            if (segy_from_native(SEGY_IBM_FLOAT_4_BYTE, static_cast<long long>(kWords), words) !=
                SEGY_OK) {
                state.SkipWithError("segy_from_native failed");
            }
        },
        true);
}
#endif

// Out of place: the input is not changed, so nothing is restored. Bytes are those written.
void BM_memcpy_doubles(benchmark::State &state) {
    DoubleBuffers &d = double_buffers();
    for (auto _ : state) {
        std::memcpy(d.copy.data(), d.out.data(), kDoubleBytes);
        benchmark::DoNotOptimize(d.copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kDoubleBytes);
}

template <typename Convert>
void run_to_double(benchmark::State &state, Convert convert) {
    const uint32_t *words = buffers().original.data();
    double *out = double_buffers().out.data();
    for (auto _ : state) {
        convert(words, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kDoubleBytes);
}

void BM_ibm2double(benchmark::State &state) {
    run_to_double(state, [](const uint32_t *words, double *out) {
        ibm2double(words, out, static_cast<int>(kWords));
    });
}

// The doubles double2ibm reads: the same amplitudes at full precision (IBM words read exactly).
std::vector<double> &doubles_in() {
    static std::vector<double> d = [] {
        std::vector<double> v(kWords);
        ibm2double(buffers().original.data(), v.data(), static_cast<int>(kWords));
        for (size_t i = 0; i < kWords; ++i) {
            v[i] *= 1.0 + 0x1p-30;  // bits below the IBM fraction, as computed data has
        }
        return v;
    }();
    return d;
}

template <typename Convert>
void run_from_double(benchmark::State &state, Convert convert) {
    const double *in = doubles_in().data();
    uint32_t *out = buffers().work.data();
    for (auto _ : state) {
        convert(in, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kDoubleBytes);
}

void BM_double2ibm(benchmark::State &state) {
    run_from_double(state, [](const double *in, uint32_t *out) {
        double2ibm(in, out, static_cast<int>(kWords));
    });
}

void BM_double2ibm_through_float(benchmark::State &state) {
    run_from_double(state, [](const double *in, uint32_t *out) {
        for (size_t i = 0; i < kWords; ++i) {
            const auto f = static_cast<float>(in[i]);
            std::memcpy(&out[i], &f, sizeof f);
        }
        ieee2ibm(out, static_cast<int>(kWords));
    });
}

void BM_memcpy_doubles_in(benchmark::State &state) {
    const double *in = doubles_in().data();
    double *copy = double_buffers().copy.data();
    for (auto _ : state) {
        std::memcpy(copy, in, kDoubleBytes);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kDoubleBytes);
}

bool register_all() {
    benchmark::RegisterBenchmark("memcpy/limit", BM_memcpy);
    bench::register_forced(ibmfloat::to_ieee_family, "ibm2ieee", BM_ibm2ieee);
    benchmark::RegisterBenchmark("ibm2ieee/library", BM_ibm2ieee);
    benchmark::RegisterBenchmark("ibm2ieee/reference", BM_baseline_pow);

    bench::register_forced(ibmfloat::to_ibm_family, "ieee2ibm", BM_ieee2ibm);
    benchmark::RegisterBenchmark("ieee2ibm/library", BM_ieee2ibm);
#ifdef WAVELIBS_HAVE_SEGYIO
    benchmark::RegisterBenchmark("ieee2ibm/segyio", BM_segy_from_native);
#endif

    benchmark::RegisterBenchmark("memcpy/doubles", BM_memcpy_doubles);
    bench::register_forced(ibmfloat::to_double_family, "ibm2double", BM_ibm2double);
    benchmark::RegisterBenchmark("ibm2double/library", BM_ibm2double);

    benchmark::RegisterBenchmark("memcpy/doubles_in", BM_memcpy_doubles_in);
    bench::register_forced(ibmfloat::from_double_family, "double2ibm", BM_double2ibm);
    benchmark::RegisterBenchmark("double2ibm/library", BM_double2ibm);
    benchmark::RegisterBenchmark("double2ibm/through_float", BM_double2ibm_through_float);
    return true;
}

const bool registered = register_all();

}  // namespace
