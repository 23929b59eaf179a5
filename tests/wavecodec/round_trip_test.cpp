// Whole waveforms through the library: difference, encode, break into lines, decode, restore.
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

namespace {

using V = std::vector<int32_t>;

// Encodes `samples` as they are, decodes them from lines of `width` characters and returns the
// decoded values (empty on a failure, which the test reports).
V through_code(const V &samples, size_t width) {
    int result = 0;
    const std::string code = test_support::encode(samples, &result);
    EXPECT_EQ(result, 0);
    test_support::LineSource source{test_support::data_section(code, width)};
    V decoded(samples.size());
    const int n = decomp_6b_buffer(static_cast<int>(samples.size()), decoded.data(),
                                   test_support::LineSource::read, &source);
    EXPECT_EQ(n, static_cast<int>(samples.size()));
    EXPECT_EQ(source.next + 1, source.lines.size()) << "the checksum line must stay unread";
    return decoded;
}

TEST(RoundTrip, SmoothSignalThroughDifferencesAndCode) {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 30.0);
    V signal(20000);
    for (size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / 100.0;
        signal[i] = static_cast<int32_t>(
            1e5 * std::sin(2.0 * M_PI * 0.7 * t) * std::exp(-0.05 * t) + noise(random));
    }
    const int checksum = check_sum(signal.data(), static_cast<int>(signal.size()), 0);
    V d = signal;
    diff_2nd(d.data(), static_cast<int>(d.size()), 0);
    for (size_t width : {80u, 79u, 1u, 7u}) {
        V back = through_code(d, width);
        rem_2nd_diff(back.data(), static_cast<int>(back.size()));
        EXPECT_EQ(back, signal) << "lines of " << width;
        EXPECT_EQ(check_sum(back.data(), static_cast<int>(back.size()), 0), checksum);
    }
}

TEST(RoundTrip, EveryLengthAndSignAndTheClamp) {
    V samples;
    for (int bits = 0; bits <= 31; ++bits) {
        const int32_t top = bits == 31 ? INT_MAX : static_cast<int32_t>((1u << bits) - 1u);
        for (int32_t v : {top, top / 2 + 1}) {
            samples.push_back(v);
            samples.push_back(-v);
        }
    }
    V clamped = samples;
    for (auto &v : clamped) {
        v = std::clamp(v, -134217727, 134217727);
    }
    EXPECT_EQ(through_code(samples, 80), clamped);
    EXPECT_EQ(through_code(samples, 13), clamped);
}

}  // namespace
