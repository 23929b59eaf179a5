// Every 32-bit pattern through every ieee2ibm and ibm2double converter, compared bit for bit with
// the integer models, and the two properties that tie the conversions together:
// - ibm2ieee(ieee2ibm(x)) is x exactly for the floats an IBM single holds (for the others it is
//   the IBM value, another float);
// - ibm2double rounded to float is ibm2ieee, for every word.
// IBMFLOAT_SWEEP_STRIDE=N checks only every N-th pattern.
#include <atomic>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_to_double.h"
#include "reference_to_ibm.h"
#include "sweep_stride.h"

namespace {

constexpr size_t kChunk = size_t{1} << 16;
constexpr unsigned kThreads = 2;
constexpr uint64_t kMaxReports = 10;
constexpr size_t kMixedCapacity = kChunk + kChunk / 7 + 8;
constexpr uint32_t kSubnormal = 0x00000001u;  // 2^-149
constexpr uint32_t kSubnormalIbm = 0x1B800000u;

// Mismatches from all threads: counted, the first few described.
class Findings {
  public:
    void add(const std::string &what, uint32_t input, uint64_t got, uint64_t wanted) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_++ < kMaxReports) {
            std::ostringstream line;
            line << std::hex << what << ": 0x" << input << " gave 0x" << got << ", wanted 0x"
                 << wanted << "\n";
            report_ += line.str();
        }
    }
    uint64_t count() const { return count_; }
    const std::string &report() const { return report_; }

  private:
    std::mutex mutex_;
    uint64_t count_ = 0;
    std::string report_;
};

// Runs body(first, count, inputs) on kThreads threads over every stride-th pattern, in chunks of
// consecutive samples (neighbouring patterns mostly share an exponent, as in real data).
void sweep(uint64_t stride,
           const std::function<void(const std::vector<uint32_t> &inputs, size_t count)> &body) {
    const uint64_t samples = (kWordCount + stride - 1) / stride;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint32_t> inputs(kChunk);
            for (uint64_t first = uint64_t{t} * kChunk; first < samples;
                 first += uint64_t{kThreads} * kChunk) {
                const auto count = static_cast<size_t>(std::min<uint64_t>(kChunk, samples - first));
                for (size_t i = 0; i < count; ++i) {
                    inputs[i] = static_cast<uint32_t>((first + i) * stride);
                }
                body(inputs, count);
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
}

uint64_t stride_or_fail() {
    std::string error;
    const uint64_t stride = sweep_stride(error);
    EXPECT_NE(stride, 0u) << error;
    return stride;
}

// Whether the finite float with these bits is an IBM single: its lowest set bit is not below the
// unit of the IBM exponent field whose range [2^(4x - 260), 2^(4x - 256)) holds its leading bit.
bool held_exactly(uint32_t f) {
    const uint32_t field = (f >> 23) & 0xffu;
    const uint32_t mantissa = f & 0x007fffffu;
    if (field == 0 && mantissa == 0) {
        return true;
    }
    const uint32_t m = field == 0 ? mantissa : (mantissa | 0x00800000u);
    const int e = field == 0 ? -149 : static_cast<int>(field) - 150;
    const int top = static_cast<int>(std::bit_width(m)) - 1 + e;
    const int lowest = std::countr_zero(m) + e;
    const int x = (top + 260) / 4;
    return lowest >= 4 * x - 280;
}

TEST(ToIbmSweep, EveryFloatThroughEveryConverterIsExactAndRoundTrips) {
    const uint64_t stride = stride_or_fail();
    ASSERT_NE(stride, 0u);
    const std::vector<ToIbmConverter> converters = available_to_ibm_converters();
    std::string names;
    for (const ToIbmConverter &c : converters) {
        names += " " + c.name;
    }
    std::cout << "checking every " << stride << ". float with:" << names << std::endl;

    Findings findings;
    std::atomic<uint64_t> held{0};
    sweep(stride, [&](const std::vector<uint32_t> &inputs, size_t count) {
        // Per thread, so that chunks reuse their memory.
        thread_local std::vector<uint32_t> expected(kChunk), work(kChunk);
        size_t no_value = 0;
        for (size_t i = 0; i < count; ++i) {
            expected[i] = reference_float_to_ibm(inputs[i]);
            no_value += ((inputs[i] >> 23) & 0xffu) == 0xffu ? 1u : 0u;
        }
        // The same floats with a subnormal one in every group of eight, so that no vector or
        // block takes the short form reserved for normal floats; the subnormal's place in the
        // group changes from chunk to chunk.
        thread_local std::vector<uint32_t> mixed_input(kMixedCapacity),
            mixed_expected(kMixedCapacity), mixed_work(kMixedCapacity);
        const size_t tiny_place = (inputs[0] >> 16) % 8;
        size_t mixed_count = 0;
        for (size_t next = 0; next < count; ++mixed_count) {
            const bool tiny = mixed_count % 8 == tiny_place;
            mixed_input[mixed_count] = tiny ? kSubnormal : inputs[next];
            mixed_expected[mixed_count] = tiny ? kSubnormalIbm : expected[next];
            next += tiny ? 0 : 1;
        }
        const struct {
            const char *how;
            const uint32_t *input, *wanted;
            uint32_t *work;
            size_t count;
        } passes[] = {{"", inputs.data(), expected.data(), work.data(), count},
                      {" (among subnormals)", mixed_input.data(), mixed_expected.data(),
                       mixed_work.data(), mixed_count}};
        for (const ToIbmConverter &converter : converters) {
            for (const auto &pass : passes) {
                std::memcpy(pass.work, pass.input, pass.count * sizeof(uint32_t));
                const size_t counted = converter.run(pass.work, pass.count);
                if (counted != no_value) {
                    findings.add(converter.name + pass.how + " count for the chunk from",
                                 pass.input[0], counted, no_value);
                }
                if (std::memcmp(pass.work, pass.wanted, pass.count * sizeof(uint32_t)) != 0) {
                    for (size_t i = 0; i < pass.count; ++i) {
                        if (pass.work[i] != pass.wanted[i]) {
                            findings.add(converter.name + pass.how + " of float", pass.input[i],
                                         pass.work[i], pass.wanted[i]);
                        }
                    }
                }
            }
        }
        // Back to float: the float itself exactly when an IBM single holds it.
        std::memcpy(work.data(), expected.data(), count * sizeof(uint32_t));
        ibm2ieee(work.data(), static_cast<int>(count));
        uint64_t held_here = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t f = inputs[i];
            if (((f >> 23) & 0xffu) == 0xffu) {
                continue;
            }
            const bool exact = held_exactly(f);
            held_here += exact ? 1 : 0;
            if ((work[i] == f) != exact) {
                findings.add(std::string("ibm2ieee(ieee2ibm(x)) == x is ") +
                                 (exact ? "false" : "true") + " for float",
                             f, work[i], f);
            }
        }
        held += held_here;
    });
    std::cout << held.load() << " of the floats checked are IBM singles" << std::endl;
    EXPECT_EQ(findings.count(), 0u) << findings.report();
}

// The float nearest to a double, ties to even, infinite beyond the float range. (A plain
// conversion of a double beyond the float range is undefined in C++.)
uint32_t float_bits_of(double d) {
    constexpr double kOverflow = 0x1.ffffffp127;  // halfway between FLT_MAX and 2^128
    if (d >= kOverflow || d <= -kOverflow) {
        return d > 0 ? 0x7f800000u : 0xff800000u;
    }
    return std::bit_cast<uint32_t>(static_cast<float>(d));
}

TEST(ToDoubleSweep, EveryWordThroughEveryConverterIsExactAndRoundsToIbm2ieee) {
    const uint64_t stride = stride_or_fail();
    ASSERT_NE(stride, 0u);
    const std::vector<ToDoubleConverter> converters = available_to_double_converters();
    std::string names;
    for (const ToDoubleConverter &c : converters) {
        names += " " + c.name;
    }
    std::cout << "checking every " << stride << ". word with:" << names << std::endl;

    Findings findings;
    sweep(stride, [&](const std::vector<uint32_t> &inputs, size_t count) {
        // Per thread, so that chunks reuse their memory.
        thread_local std::vector<uint64_t> expected(kChunk);
        thread_local std::vector<double> out(kChunk);
        thread_local std::vector<uint32_t> floats(kChunk);
        for (size_t i = 0; i < count; ++i) {
            expected[i] = reference_ibm_to_double(inputs[i]);
        }
        for (const ToDoubleConverter &converter : converters) {
            converter.run(inputs.data(), out.data(), count);
            if (std::memcmp(out.data(), expected.data(), count * sizeof(double)) != 0) {
                for (size_t i = 0; i < count; ++i) {
                    const auto got = std::bit_cast<uint64_t>(out[i]);
                    if (got != expected[i]) {
                        findings.add(converter.name + " of word", inputs[i], got, expected[i]);
                    }
                }
            }
        }
        // The last converter was the public entry: its doubles, rounded to float, are ibm2ieee's.
        std::memcpy(floats.data(), inputs.data(), count * sizeof(uint32_t));
        ibm2ieee(floats.data(), static_cast<int>(count));
        for (size_t i = 0; i < count; ++i) {
            const uint32_t rounded = float_bits_of(out[i]);
            if (rounded != floats[i]) {
                findings.add("ibm2double rounded to float against ibm2ieee, word", inputs[i],
                             rounded, floats[i]);
            }
        }
    });
    EXPECT_EQ(findings.count(), 0u) << findings.report();
}

}  // namespace
