// segyio_exactness [STRIDE]: every float bit pattern (or every STRIDE-th) through segyio's
// segy_from_native and through ieee2ibm (proven exact by the test suite's sweep), counting the
// words on which segyio's result differs, by kind. segy_from_native stores big-endian words;
// they are read back as such before comparing.
#include <segyio/segy.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ibmfloat.h"

namespace {

constexpr uint64_t kPatterns = uint64_t{1} << 32;
constexpr size_t kChunk = size_t{1} << 16;
constexpr unsigned kThreads = 2;

enum Kind : size_t { finite_normal, finite_subnormal, zero, not_finite, kKinds };
const char *const kKindNames[kKinds] = {"normal floats", "subnormal floats", "zeros",
                                        "infinities and NaNs"};

Kind kind_of(uint32_t f) {
    const uint32_t field = (f >> 23) & 0xffu;
    if (field == 0xffu) {
        return not_finite;
    }
    if (field != 0) {
        return finite_normal;
    }
    return (f & 0x007fffffu) == 0 ? zero : finite_subnormal;
}

uint32_t from_big_endian(const uint32_t &stored) {
    unsigned char b[4];
    std::memcpy(b, &stored, 4);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

struct Counts {
    std::array<uint64_t, kKinds> checked{};
    std::array<uint64_t, kKinds> wrong{};
    uint64_t one_unit = 0;  // same sign and exponent field, fraction one away from the nearest
};

struct Example {
    uint32_t input, got, wanted;
};

}  // namespace

int main(int argc, char **argv) {
    uint64_t stride = 1;
    if (argc > 1) {
        char *end = nullptr;
        stride = std::strtoull(argv[1], &end, 10);
        if (*end != '\0' || stride == 0 || stride >= kPatterns) {
            std::fprintf(stderr, "segyio_exactness: STRIDE must be from 1 to 2^32 - 1\n");
            return 2;
        }
    }
    const uint64_t samples = (kPatterns + stride - 1) / stride;
    std::vector<Counts> counts(kThreads);
    std::mutex mutex;
    std::vector<Example> examples[kKinds];
    std::atomic<bool> failed{false};

    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint32_t> theirs(kChunk), ours(kChunk);
            Counts &c = counts[t];
            for (uint64_t first = uint64_t{t} * kChunk; first < samples && !failed;
                 first += uint64_t{kThreads} * kChunk) {
                const auto n = static_cast<size_t>(std::min<uint64_t>(kChunk, samples - first));
                for (size_t i = 0; i < n; ++i) {
                    ours[i] = static_cast<uint32_t>((first + i) * stride);
                }
                std::memcpy(theirs.data(), ours.data(), n * sizeof(uint32_t));
                if (segy_from_native(SEGY_IBM_FLOAT_4_BYTE, static_cast<long long>(n),
                                     theirs.data()) != SEGY_OK) {
                    failed = true;
                    break;
                }
                std::vector<uint32_t> inputs(ours.begin(), ours.begin() + static_cast<long>(n));
                ieee2ibm(ours.data(), static_cast<int>(n));
                for (size_t i = 0; i < n; ++i) {
                    const Kind k = kind_of(inputs[i]);
                    const uint32_t got = from_big_endian(theirs[i]);
                    c.checked[k] += 1;
                    if (got == ours[i]) {
                        continue;
                    }
                    c.wrong[k] += 1;
                    const uint32_t a = got & 0x00ffffffu, b = ours[i] & 0x00ffffffu;
                    if ((got >> 24) == (ours[i] >> 24) && (a - b == 1 || b - a == 1)) {
                        c.one_unit += 1;
                    }
                    std::lock_guard<std::mutex> lock(mutex);
                    if (examples[k].size() < 4) {
                        examples[k].push_back({inputs[i], got, ours[i]});
                    }
                }
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    if (failed) {
        std::fprintf(stderr, "segyio_exactness: segy_from_native reported an error\n");
        return 1;
    }

    Counts total;
    for (const Counts &c : counts) {
        for (size_t k = 0; k < kKinds; ++k) {
            total.checked[k] += c.checked[k];
            total.wrong[k] += c.wrong[k];
        }
        total.one_unit += c.one_unit;
    }
    uint64_t finite_checked = 0, finite_wrong = 0;
    std::printf("segy_from_native against the nearest IBM single, every %" PRIu64
                ". float bit pattern:\n",
                stride);
    for (size_t k = 0; k < kKinds; ++k) {
        std::printf("  %-20s %12" PRIu64 " checked, %12" PRIu64 " differ\n", kKindNames[k],
                    total.checked[k], total.wrong[k]);
        for (const Example &e : examples[k]) {
            std::printf("      float 0x%08" PRIx32 ": segyio 0x%08" PRIx32 ", nearest 0x%08" PRIx32
                        "\n",
                        e.input, e.got, e.wanted);
        }
        if (k != not_finite) {
            finite_checked += total.checked[k];
            finite_wrong += total.wrong[k];
        }
    }
    std::printf("finite floats: %" PRIu64 " of %" PRIu64 " wrong (%.2f%%); %" PRIu64
                " of the differing words (all kinds) are one unit of the fraction away\n",
                finite_wrong, finite_checked,
                finite_checked != 0 ? 100.0 * static_cast<double>(finite_wrong) /
                                          static_cast<double>(finite_checked)
                                    : 0.0,
                total.one_unit);
    return 0;
}
