// Every 32-bit word through every converter, compared bit for bit with the integer model.
// IBMFLOAT_SWEEP_STRIDE=N checks only every N-th word (for valgrind or emulated runs).
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
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

namespace {

constexpr uint64_t kWordCount = uint64_t{1} << 32;
constexpr size_t kChunk = size_t{1} << 16;
constexpr unsigned kThreads = 2;
constexpr int kMaxReports = 10;

// The stride from the environment; 0 (with a message) when it is set but not a positive integer.
uint64_t sweep_stride(std::string &error) {
    const char *text = std::getenv("IBMFLOAT_SWEEP_STRIDE");
    if (text == nullptr || *text == '\0') {
        return 1;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value == 0 || value >= kWordCount) {
        error = std::string("IBMFLOAT_SWEEP_STRIDE must be an integer from 1 to 2^32 - 1, not '") + text + "'";
        return 0;
    }
    return value;
}

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
        for (uint64_t first = uint64_t{thread} * kChunk; first < samples; first += uint64_t{kThreads} * kChunk) {
            const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, samples - first));
            for (size_t i = 0; i < count; ++i) {
                input[i] = static_cast<uint32_t>((first + i) * stride_);
                expected[i] = reference_ibm_to_ieee(input[i]);
            }
            for (const Converter &converter : converters_) {
                std::memcpy(work.data(), input.data(), count * sizeof(uint32_t));
                converter.run(work.data(), count);
                if (std::memcmp(work.data(), expected.data(), count * sizeof(uint32_t)) != 0) {
                    record(converter, input, expected, work, count);
                }
            }
        }
    }

    void record(const Converter &converter, const std::vector<uint32_t> &input,
                const std::vector<uint32_t> &expected, const std::vector<uint32_t> &got, size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < count; ++i) {
            if (got[i] == expected[i]) {
                continue;
            }
            if (mismatches_.fetch_add(1) < kMaxReports) {
                std::ostringstream line;
                line << std::hex << converter.name << ": word 0x" << input[i] << " gave 0x" << got[i]
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
