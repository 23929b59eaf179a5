// Second differences: worked series, block-by-block continuation, the differencing state, exact
// restoration through 32-bit wrap-around, and diff_2nd_r (the caller's state) against diff_2nd.
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <thread>
#include <vector>

namespace {

using V = std::vector<int32_t>;

V differenced(V x, int continued = 0) {
    diff_2nd(x.data(), static_cast<int>(x.size()), continued);
    return x;
}

V restored(V d) {
    rem_2nd_diff(d.data(), static_cast<int>(d.size()));
    return d;
}

TEST(SecondDiff, WorkedSeries) {
    EXPECT_EQ(differenced({10, 12, 15, 19, 24, 30}), (V{10, -8, 1, 1, 1, 1}));
    EXPECT_EQ(restored({10, -8, 1, 1, 1, 1}), (V{10, 12, 15, 19, 24, 30}));
    EXPECT_EQ(restored({5, -10}), (V{5, 0}));
}

TEST(SecondDiff, SeriesInBlocks) {
    EXPECT_EQ(differenced({10, 12, 15}, 0), (V{10, -8, 1}));
    EXPECT_EQ(differenced({19, 24, 30}, 1), (V{1, 1, 1}));

    // A single first sample sets the state; an empty continuation leaves it alone.
    EXPECT_EQ(differenced({10}, 0), (V{10}));
    EXPECT_EQ(differenced({}, 7), (V{}));
    diff_2nd(nullptr, 5, 1);
    EXPECT_EQ(differenced({12, 15, 19}, 1), (V{-8, 1, 1}));

    // A new series with no samples starts from nothing: its first block is differenced afresh.
    differenced({1000, -1000}, 0);
    EXPECT_EQ(differenced({}, 0), (V{}));
    EXPECT_EQ(differenced({10, 12}, 1), (V{10, -8}));
}

TEST(SecondDiff, RandomBlocksMatchOneCallAndRestoreExactly) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 50; ++trial) {
        V series(1 + random() % 3000);
        for (auto &x : series) {
            // Near the 32-bit limits in some trials, so the differences wrap.
            x = trial % 2 ? static_cast<int32_t>(random())
                          : static_cast<int32_t>(random() % 2001) - 1000;
        }
        const V whole = differenced(series);
        V blocks = series;
        size_t at = 0;
        while (at < blocks.size()) {
            const size_t n = std::min<size_t>(random() % 40, blocks.size() - at);
            diff_2nd(blocks.data() + at, static_cast<int>(n), at != 0);
            at += n;  // an empty first block starts the series again
        }
        EXPECT_EQ(blocks, whole) << "trial " << trial;
        if (series.size() >= 2) {
            EXPECT_EQ(restored(whole), series) << "trial " << trial;
        }
    }
}

TEST(SecondDiff, ExtremesWrapAndRestore) {
    const V series{INT_MAX, INT_MIN, INT_MAX, 0, INT_MIN, INT_MIN, -1, INT_MAX};
    const V d = differenced(series);
    EXPECT_EQ(d[1], static_cast<int32_t>(static_cast<uint32_t>(INT_MIN) - 2u * INT_MAX));
    EXPECT_EQ(restored(d), series);
}

TEST(SecondDiff, RestoreBelowTwoTouchesNothing) {
    V one{42, 7};
    rem_2nd_diff(one.data(), 1);
    rem_2nd_diff(one.data(), 0);
    rem_2nd_diff(one.data(), -4);
    rem_2nd_diff(nullptr, 10);
    EXPECT_EQ(one, (V{42, 7}));
}

// diff_2nd_r on several threads at once, each series in blocks of random sizes with a state of
// its own, gives what diff_2nd gives for the whole series alone, and leaves the state holding the
// series' last two samples; a state set to the two samples before any block continues the
// series from there.
TEST(SecondDiffR, SeriesOnThreadsAtOnceMatchDiff2nd) {
    constexpr size_t kThreads = 4;
    std::vector<V> series(kThreads), want(kThreads), got(kThreads);
    for (size_t t = 0; t < kThreads; ++t) {
        std::mt19937 random(100u + static_cast<unsigned>(t));
        series[t].resize(150000 + 977 * t);
        for (auto &x : series[t]) {
            x = static_cast<int32_t>(random());
        }
        want[t] = differenced(series[t]);
    }
    std::vector<diff_2nd_state> states(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(200u + static_cast<unsigned>(t));
            V &v = got[t] = series[t];
            // Dirty on purpose: continued 0 must start the series afresh.
            states[t] = diff_2nd_state{12345, -6789};
            for (size_t at = 0, n = 0; at < v.size(); at += n) {
                n = std::min<size_t>(random() % 3000, v.size() - at);
                failures[t] +=
                    diff_2nd_r(&states[t], v.data() + at, static_cast<int>(n), at != 0) != 0;
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    for (size_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        EXPECT_TRUE(got[t] == want[t]) << "thread " << t << " differs from diff_2nd";
        EXPECT_EQ(states[t].second_last, series[t][series[t].size() - 2]) << "thread " << t;
        EXPECT_EQ(states[t].last, series[t].back()) << "thread " << t;
    }
    // Any block, from a state set by hand to the two samples before it.
    for (size_t at : {size_t{1}, size_t{2}, size_t{77}, size_t{4096}, series[0].size() - 1}) {
        V block(series[0].begin() + static_cast<ptrdiff_t>(at), series[0].end());
        diff_2nd_state state{at >= 2 ? series[0][at - 2] : 0, series[0][at - 1]};
        ASSERT_EQ(diff_2nd_r(&state, block.data(), static_cast<int>(block.size()), 1), 0);
        EXPECT_TRUE(
            std::equal(block.begin(), block.end(), want[0].begin() + static_cast<ptrdiff_t>(at)))
            << "block from " << at;
    }
}

}  // namespace
