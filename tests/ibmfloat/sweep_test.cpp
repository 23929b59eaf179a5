// Every 32-bit word through every converter, compared bit for bit with the integer model.
// IBMFLOAT_SWEEP_STRIDE=N checks only every N-th word (for valgrind or emulated runs).
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_model.h"
#include "sweep_stride.h"

namespace {

constexpr size_t kChunk = size_t{1} << 16;
constexpr unsigned kThreads = 2;
constexpr int kMaxReports = 10;
constexpr uint32_t kTiny = 0x00000001u;  // 2^-280, far below the smallest subnormal
constexpr uint32_t kTinyResult = 0x00000000u;

class Sweep {
  public:
    Sweep(uint64_t stride, std::vector<Converter> converters)
        : stride_(stride), converters_(std::move(converters)) {}

    void run() {
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < kThreads; ++t) {
            threads.emplace_back([this, t] { run_thread(t); });
        }
        for (auto &thread : threads) {
            thread.join();
        }
    }

    uint64_t mismatches() const { return mismatches_.load(); }
    const std::string &report() const { return report_; }

  private:
    void run_thread(unsigned thread) {
        const uint64_t samples = (kWordCount + stride_ - 1) / stride_;
        std::vector<uint32_t> input(kChunk), expected(kChunk), work(kChunk);
        // The same words with a tiny one in every group of eight, so that no vector or block of
        // words takes the short form reserved for exponent fields in the always-normal range.
        // The tiny word's place in the group changes from chunk to chunk.
        const size_t mixed_capacity = kChunk + kChunk / 7 + 8;
        std::vector<uint32_t> mixed_input(mixed_capacity), mixed_expected(mixed_capacity),
            mixed_work(mixed_capacity);
        for (uint64_t first = uint64_t{thread} * kChunk; first < samples;
             first += uint64_t{kThreads} * kChunk) {
            const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, samples - first));
            for (size_t i = 0; i < count; ++i) {
                input[i] = static_cast<uint32_t>((first + i) * stride_);
                expected[i] = reference_ibm_to_ieee(input[i]);
            }
            // Words whose exponent field lies in 39..96 always give normal floats and may take a
            // short form; only chunks holding such words need the mixed pass.
            bool any_always_normal = false;
            for (size_t i = 0; i < count; ++i) {
                any_always_normal |= ((input[i] >> 24) & 0x7fu) - 39u <= 96u - 39u;
            }
            const size_t tiny_place = (first / kChunk) % 8;
            size_t mixed_count = 0;
            for (size_t next = 0; any_always_normal && next < count; ++mixed_count) {
                const bool tiny = mixed_count % 8 == tiny_place;
                mixed_input[mixed_count] = tiny ? kTiny : input[next];
                mixed_expected[mixed_count] = tiny ? kTinyResult : expected[next];
                next += tiny ? 0 : 1;
            }
            for (const Converter &converter : converters_) {
                // In order: neighbouring words mostly share an exponent field, as in real data.
                std::memcpy(work.data(), input.data(), count * sizeof(uint32_t));
                converter.run(work.data(), count);
                if (std::memcmp(work.data(), expected.data(), count * sizeof(uint32_t)) != 0) {
                    record(converter.name, input.data(), expected.data(), work.data(), count);
                }
                if (mixed_count == 0) {
                    continue;
                }
                std::memcpy(mixed_work.data(), mixed_input.data(), mixed_count * sizeof(uint32_t));
                converter.run(mixed_work.data(), mixed_count);
                if (std::memcmp(mixed_work.data(), mixed_expected.data(),
                                mixed_count * sizeof(uint32_t)) != 0) {
                    record(converter.name + " (among tiny words)", mixed_input.data(),
                           mixed_expected.data(), mixed_work.data(), mixed_count);
                }
            }
        }
    }

    void record(const std::string &name, const uint32_t *input, const uint32_t *expected,
                const uint32_t *got, size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < count; ++i) {
            if (got[i] == expected[i]) {
                continue;
            }
            if (mismatches_.fetch_add(1) < kMaxReports) {
                std::ostringstream line;
                line << std::hex << name << ": word 0x" << input[i] << " gave 0x" << got[i]
                     << ", exact is 0x" << expected[i] << "\n";
                report_ += line.str();
            }
        }
    }

    const uint64_t stride_;
    const std::vector<Converter> converters_;
    std::atomic<uint64_t> mismatches_{0};
    std::mutex mutex_;
    std::string report_;
};

TEST(Sweep, EveryWordThroughEveryConverterIsExact) {
    std::string error;
    const uint64_t stride = sweep_stride(error);
    ASSERT_NE(stride, 0u) << error;

    std::vector<Converter> converters = available_converters();
    std::string names;
    for (const Converter &c : converters) {
        names += " " + c.name;
    }
    std::cout << "checking every " << stride << ". word with:" << names << std::endl;

    Sweep sweep(stride, converters);
    sweep.run();
    EXPECT_EQ(sweep.mismatches(), 0u) << sweep.report();
}

}  // namespace
