// The block and vector paths of the array routines and encoders against the plain per-sample
// versions (tests/support/reference_codec.h), across block boundaries, wrapping values and the
// cases that leave the fast paths (sums near eight digits, -2147483648, a full output buffer).
// Built twice: against the library, and from its sources with the x86 vector code disabled.
#include "reference_codec.h"
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The plain versions (tests/support/reference_codec.h) over whole vectors.
int model_check_sum(const std::vector<int32_t> &v, int initial) {
    return reference::check_sum(v.data(), static_cast<int>(v.size()), initial);
}

std::vector<int32_t> model_diff(std::vector<int32_t> v) {
    reference::diff_2nd(v.data(), static_cast<int>(v.size()));
    return v;
}

std::vector<int32_t> model_restore(std::vector<int32_t> v) {
    reference::rem_2nd_diff(v.data(), static_cast<int>(v.size()));
    return v;
}

std::vector<int32_t> random_values(size_t n, uint32_t seed, int32_t lo, int32_t hi) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> dist(lo, hi);
    std::vector<int32_t> v(n);
    for (int32_t &x : v) {
        x = dist(gen);
    }
    return v;
}

// Counts around the block sizes (16, 64) and their multiples.
const int kCounts[] = {0, 1, 2, 3, 15, 16, 17, 63, 64, 65, 66, 127, 128, 129, 130, 200, 1000, 4097};

TEST(KernelPathsChecksum, MatchesModelForSmallLargeAndWrappingValues) {
    const int32_t ranges[][2] = {
        {-1000, 1000}, {-120000, 120000}, {-99999999, 99999999}, {INT32_MIN, INT32_MAX}};
    const int initials[] = {0, 5, -99999999, 99999999, 99990000, -99990000, INT_MAX, INT_MIN};
    uint32_t seed = 1;
    for (const auto &r : ranges) {
        for (int n : kCounts) {
            const std::vector<int32_t> v =
                random_values(static_cast<size_t>(n), seed++, r[0], r[1]);
            for (int initial : initials) {
                EXPECT_EQ(check_sum(v.data(), n, initial), model_check_sum(v, initial))
                    << "range " << r[0] << ".." << r[1] << ", count " << n << ", initial "
                    << initial;
            }
        }
    }
}

TEST(KernelPathsChecksum, BlocksAtTheEdgeOfEightDigits) {
    // Equal samples: a block of 64 after the first sample is summed at once only while
    // |sum| + 64 * (bound of the largest magnitude) stays within eight digits. Sweep the start
    // across that edge, both signs, so blocks land on either side of it and the sum crosses.
    for (int32_t value : {1, -1, 7, -7, 1000, -1000}) {
        const std::vector<int32_t> v(1 + 64 * 3, value);
        for (int start = 99999999 - 2500; start <= 99999999; start += 3) {
            const int initial = value > 0 ? start : -start;
            ASSERT_EQ(check_sum(v.data(), static_cast<int>(v.size()), initial),
                      model_check_sum(v, initial))
                << "value " << value << ", initial " << initial;
        }
    }
    // A block whose values cancel but whose partial sums cross the limit.
    std::vector<int32_t> swing(1 + 64);
    for (size_t i = 1; i < swing.size(); ++i) {
        swing[i] = i <= 32 ? 1000000 : -1000000;
    }
    EXPECT_EQ(check_sum(swing.data(), 65, 80000000), model_check_sum(swing, 80000000));
    // Stretches that keep reducing (blocks given up for longer and longer) alternating with
    // small values (blocks summed at once again), at varying lengths.
    std::vector<int32_t> mixed;
    for (int stretch = 1; stretch <= 40; stretch += 3) {
        const std::vector<int32_t> big =
            random_values(static_cast<size_t>(stretch * 64 + stretch),
                          static_cast<uint32_t>(stretch), -99999999, 99999999);
        const std::vector<int32_t> small_values = random_values(
            static_cast<size_t>(stretch * 37), static_cast<uint32_t>(stretch + 100), -5000, 5000);
        mixed.insert(mixed.end(), big.begin(), big.end());
        mixed.insert(mixed.end(), small_values.begin(), small_values.end());
    }
    for (int initial : {0, 99999999, -12345678}) {
        EXPECT_EQ(check_sum(mixed.data(), static_cast<int>(mixed.size()), initial),
                  model_check_sum(mixed, initial));
    }
    // -2147483648 inside an otherwise small block.
    std::vector<int32_t> small(1 + 128, 3);
    small[70] = INT32_MIN;
    EXPECT_EQ(check_sum(small.data(), 129, 0), model_check_sum(small, 0));
}

TEST(KernelPathsDifferences, SeriesSplitAnywhereMatchesModel) {
    const std::vector<int32_t> series = random_values(700, 7, INT32_MIN, INT32_MAX);
    const std::vector<int32_t> expected = model_diff(series);
    const int pieces[][4] = {{700, 0, 0, 0},   {1, 63, 64, 572}, {64, 64, 65, 507},
                             {2, 129, 3, 566}, {0, 700, 0, 0},   {127, 1, 128, 444}};
    for (const auto &p : pieces) {
        std::vector<int32_t> v = series;
        int at = 0;
        for (int k = 0; k < 4; ++k) {
            diff_2nd(v.data() + at, p[k], k == 0 ? 0 : 1);
            at += p[k];
        }
        EXPECT_EQ(v, expected) << "pieces " << p[0] << "," << p[1] << "," << p[2] << "," << p[3];
    }
    for (int n : kCounts) {
        std::vector<int32_t> v(series.begin(), series.begin() + std::min(n, 700));
        const std::vector<int32_t> want = model_diff(v);
        diff_2nd(v.data(), static_cast<int>(v.size()), 0);
        EXPECT_EQ(v, want) << "count " << n;
    }
}

TEST(KernelPathsRestore, MatchesModelAndInvertsDifferences) {
    for (int n : kCounts) {
        const std::vector<int32_t> d = random_values(
            static_cast<size_t>(n), 11u + static_cast<uint32_t>(n), INT32_MIN, INT32_MAX);
        std::vector<int32_t> v = d;
        rem_2nd_diff(v.data(), n);
        if (n >= 2) {
            EXPECT_EQ(v, model_restore(d)) << "count " << n;
        } else {
            EXPECT_EQ(v, d) << "count " << n;
        }
        // Round trip through the differences of a wrapping series.
        std::vector<int32_t> series = d;
        diff_2nd(series.data(), n, 0);
        rem_2nd_diff(series.data(), n);
        if (n >= 2) {
            EXPECT_EQ(series, d) << "count " << n;
        }
    }
}

// Every bit length's edges, both signs, the clamp and the extremes.
std::vector<int32_t> edge_values() {
    std::vector<int32_t> v{0, INT32_MAX, INT32_MIN + 1, 134217727, 134217728, -134217728};
    for (int bits = 1; bits <= 30; ++bits) {
        const int32_t p = static_cast<int32_t>(1u << bits);
        for (int32_t x : {p - 1, p, p + 1}) {
            v.push_back(x);
            v.push_back(-x);
        }
    }
    return v;
}

std::string writer_chars;
int collect(int c) {
    writer_chars.push_back(static_cast<char>(c));
    return c;
}

TEST(KernelPathsEncoder, EdgeValuesAtEveryBlockPosition) {
    const std::vector<int32_t> edges = edge_values();
    // Rotate the edge values so each meets each position within a block.
    for (size_t shift = 0; shift < 64; shift += 7) {
        std::vector<int32_t> v;
        for (size_t i = 0; i < 3 * edges.size(); ++i) {
            v.push_back(edges[(i + shift) % edges.size()]);
        }
        const std::string want = reference::codes(v.data(), v.size());
        std::string out(6 * v.size() + 16, '#');
        size_t length = 0;
        ASSERT_EQ(compress_6b_chars(v.data(), static_cast<int>(v.size()), out.data(), 6 * v.size(),
                                    &length),
                  0);
        EXPECT_EQ(out.substr(0, length), want);
        EXPECT_EQ(out.find_first_not_of('#', length), std::string::npos);
        writer_chars.clear();
        ASSERT_EQ(compress_6b_buffer(v.data(), static_cast<int>(v.size()), collect), 0);
        EXPECT_EQ(writer_chars, want);
    }
}

TEST(KernelPathsEncoder, UnencodableSampleStopsBothEncodersAtItsPlace) {
    const std::vector<int32_t> base = random_values(200, 3, -5000000, 5000000);
    for (size_t at :
         {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{130}, size_t{199}}) {
        std::vector<int32_t> v = base;
        v[at] = INT32_MIN;
        const std::string want = reference::codes(v.data(), at);
        std::string out(6 * v.size(), '#');
        size_t length = 99;
        EXPECT_EQ(compress_6b_chars(v.data(), 200, out.data(), out.size(), &length), -1);
        EXPECT_EQ(out.substr(0, length), want) << "at " << at;
        EXPECT_EQ(out.find_first_not_of('#', length), std::string::npos) << "at " << at;
        writer_chars.clear();
        EXPECT_EQ(compress_6b_buffer(v.data(), 200, collect), -1);
        EXPECT_EQ(writer_chars, want) << "at " << at;
    }
}

TEST(KernelPathsEncoder, FullBufferKeepsWholeSamplesAndNothingPastThem) {
    const std::vector<int32_t> v = random_values(150, 5, -100000000, 100000000);
    const std::string all = reference::codes(v.data(), v.size());
    for (size_t capacity :
         {size_t{0}, size_t{5}, all.size() / 2, all.size() - 1, all.size(), all.size() + 1}) {
        std::string out(all.size() + 8, '#');
        size_t length = 99;
        const int result = compress_6b_chars(v.data(), 150, out.data(), capacity, &length);
        // The longest run of whole samples within the capacity.
        size_t fit = 0, samples = 0;
        while (samples < v.size() && fit + reference::code(v[samples]).size() <= capacity) {
            fit += reference::code(v[samples++]).size();
        }
        EXPECT_EQ(result, samples == v.size() ? 0 : -2) << "capacity " << capacity;
        EXPECT_EQ(length, fit) << "capacity " << capacity;
        EXPECT_EQ(out.substr(0, length), all.substr(0, fit));
        EXPECT_EQ(out.find_first_not_of('#', length), std::string::npos) << "capacity " << capacity;
    }
}

}  // namespace
