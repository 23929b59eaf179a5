// The CHK2 checksum: worked values, reduction of samples and sums, blocks, and the extremes that
// must not overflow.
#include "reference_codec.h"
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

namespace {

int sum(const std::vector<int32_t> &v, int initial = 0) {
    return check_sum(v.data(), static_cast<int>(v.size()), initial);
}

TEST(CheckSum, WorkedValues) {
    EXPECT_EQ(sum({1, 2, 3}), 6);
    EXPECT_EQ(sum({}, 1234), 1234);
    EXPECT_EQ(sum({99999999, 1}), 0);
    EXPECT_EQ(sum({60000000, 60000000}), 20000000);
    EXPECT_EQ(sum({-60000000, -60000000}), -20000000);
    EXPECT_EQ(sum({150000000}), 50000000);
    EXPECT_EQ(sum({-150000000}), -50000000);
    EXPECT_EQ(sum({-5}), -5);
    // The sum is reduced only when it leaves eight digits: the path matters.
    EXPECT_EQ(sum({99999999, 1, -5}), -5);
    EXPECT_EQ(sum({99999999, -5, 1}), 99999995);
}

TEST(CheckSum, ExtremesDoNotOverflow) {
    EXPECT_EQ(sum({INT_MIN}), -47483648);
    EXPECT_EQ(sum({INT_MAX}), 47483647);
    EXPECT_EQ(sum({INT_MIN, INT_MIN, INT_MIN}), -42450944);
    // A starting value outside eight digits is added in wide arithmetic and reduced.
    EXPECT_EQ(sum({1}, INT_MAX), 47483648);
    EXPECT_EQ(sum({-1}, INT_MIN), -47483649);
    EXPECT_EQ(sum({INT_MIN}, INT_MIN), -94967296);
}

TEST(CheckSum, NothingToSum) {
    const int32_t one = 1;
    EXPECT_EQ(check_sum(&one, 0, 77), 77);
    EXPECT_EQ(check_sum(&one, -1, 77), 77);
    EXPECT_EQ(check_sum(nullptr, 5, 77), 77);
}

TEST(CheckSum, BlocksAndModelAgreeOnRandomSeries) {
    std::mt19937 random(5);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<int32_t> v(random() % 5000);
        for (auto &x : v) {
            const int kind = trial % 4;
            x = kind == 0 ? static_cast<int32_t>(random())  // anything
                : kind == 1
                    ? static_cast<int32_t>(random() % 200000001) - 100000000  // near 8 digits
                : kind == 2
                    ? static_cast<int32_t>(random() % 2000001)           // drifts upward
                    : static_cast<int32_t>(random() % 200001) - 100000;  // small, both signs
        }
        const int whole = sum(v);
        EXPECT_EQ(whole, reference::check_sum(v.data(), static_cast<int>(v.size()), 0))
            << "trial " << trial;
        const size_t cut = v.empty() ? 0 : random() % v.size();
        const std::vector<int32_t> a(v.begin(), v.begin() + static_cast<ptrdiff_t>(cut));
        const std::vector<int32_t> b(v.begin() + static_cast<ptrdiff_t>(cut), v.end());
        EXPECT_EQ(sum(b, sum(a)), whole) << "trial " << trial;
    }
}

}  // namespace
