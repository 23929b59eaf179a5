// compress_6b_lines against the per-character encoder: the characters compress_6b_buffer hands
// its writer, cut into lines of the width asked for, at every width edge, with counts that fill
// the last line exactly and not, written in one call and in several; the clamped count, the
// -2147483648 stop, short buffers and invalid arguments.
#include "test_support.h"
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

using test_support::encode;

// `code` cut into lines of `width` characters, each ended by a LF.
std::string in_lines(const std::string &code, size_t width) {
    std::string out;
    for (size_t at = 0; at < code.size(); at += width) {
        out.append(code, at, width);
        out.push_back('\n');
    }
    return out;
}

struct Lines {
    int result = 99;
    std::string text;
    int clamped = -1;
};

// One call with a null column into a buffer of `capacity` bytes; checks that nothing past the
// reported length was written.
Lines encode_lines(const std::vector<int32_t> &samples, int width, size_t capacity) {
    std::string out(capacity + 8, '#');  // bytes past the capacity are guards
    size_t length = 12345;
    Lines r;
    r.result = compress_6b_lines(samples.data(), static_cast<int>(samples.size()), width, nullptr,
                                 out.data(), capacity, &length, &r.clamped);
    EXPECT_LE(length, capacity);
    EXPECT_EQ(out.find_first_of('#'), std::min(length, capacity)) << "length disagrees";
    EXPECT_EQ(out.substr(capacity), std::string(8, '#')) << "wrote past the capacity";
    r.text = out.substr(0, std::min(length, capacity));
    return r;
}

// Samples with a magnitude above 134217727.
int over_range(const std::vector<int32_t> &samples) {
    int n = 0;
    for (int32_t v : samples) {
        n += v > 134217727 || v < -134217727 ? 1 : 0;
    }
    return n;
}

size_t most_needed(size_t count, int width) {
    return 6 * count + 6 * count / static_cast<size_t>(width) + 1;
}

std::vector<int32_t> random_samples(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<int32_t> samples;
    for (size_t i = 0; i < n; ++i) {
        samples.push_back(static_cast<int32_t>(random()) >> (random() % 32));
    }
    return samples;
}

TEST(EncodeLines, EveryWidthEdgeAndCountMatchesTheWriterCutIntoLines) {
    // "Uz6" three characters each: counts that fill lines of 1, 3, 6, 9, 12, ... exactly, and
    // others that leave the last line short.
    const std::vector<int32_t> three(40, 1000);
    // Random lengths: samples run on from one line into the next.
    const std::vector<int32_t> mixed = random_samples(300, 5);
    for (const std::vector<int32_t> *pool : {&three, &mixed}) {
        for (int width : {1, 2, 3, 4, 5, 6, 7, 63, 64, 65, 79, 80, 81, 127, 128, 500, 4096}) {
            for (size_t count = 0; count <= pool->size(); ++count) {
                const std::vector<int32_t> samples(pool->begin(), pool->begin() + static_cast<long>(count));
                const std::string want = in_lines(encode(samples), static_cast<size_t>(width));
                const Lines got = encode_lines(samples, width, most_needed(count, width));
                ASSERT_EQ(got.result, 0) << "width " << width << ", count " << count;
                ASSERT_EQ(got.text, want) << "width " << width << ", count " << count;
                ASSERT_EQ(got.clamped, over_range(samples));
                // Exactly the bytes needed are enough.
                ASSERT_EQ(encode_lines(samples, width, want.size()).text, want);
            }
        }
    }
}

TEST(EncodeLines, SeveralCallsWithAnOpenLineMakeTheSameText) {
    const std::vector<int32_t> samples = random_samples(2000, 9);
    for (int width : {1, 7, 80}) {
        const std::string want = in_lines(encode(samples), static_cast<size_t>(width));
        // Pieces of 1 to 200 samples, so calls end mid-line, at line ends and mid-block.
        for (size_t piece : {size_t{1}, size_t{26}, size_t{64}, size_t{65}, size_t{200}}) {
            std::string text;
            int column = 0;
            for (size_t at = 0; at < samples.size(); at += piece) {
                const int n = static_cast<int>(std::min(piece, samples.size() - at));
                std::string out(most_needed(static_cast<size_t>(n), width), '#');
                size_t length = 0;
                ASSERT_EQ(compress_6b_lines(samples.data() + at, n, width, &column, out.data(),
                                            out.size(), &length, nullptr),
                          0);
                ASSERT_GE(column, 0);
                ASSERT_LT(column, width);
                text.append(out, 0, length);
            }
            ASSERT_EQ(column == 0, text.empty() || text.back() == '\n');
            if (column > 0) {
                text.push_back('\n');
            }
            EXPECT_EQ(text, want) << "width " << width << ", pieces of " << piece;
        }
    }
}

TEST(EncodeLines, CountsTheClampedSamples) {
    std::vector<int32_t> samples = random_samples(1000, 3);
    for (int32_t &v : samples) {
        v /= 64;  // within the code's range
    }
    const int32_t over[] = {134217728, -134217728, INT_MAX, -INT_MAX, 1 << 30};
    const int32_t edge[] = {134217727, -134217727};
    size_t at = 0;
    for (int32_t v : over) {
        samples[at += 97] = v;
    }
    for (int32_t v : edge) {
        samples[at += 97] = v;
    }
    const std::string want = in_lines(encode(samples), 80);
    const Lines got = encode_lines(samples, 80, most_needed(samples.size(), 80));
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.text, want);
    EXPECT_EQ(got.clamped, 5);
    // A short buffer counts only the samples it wrote.
    const std::vector<int32_t> two{1, INT_MAX, 1, -INT_MAX};
    EXPECT_EQ(encode_lines(two, 80, 7).clamped, 1);  // "1" and six characters
    EXPECT_EQ(encode_lines(two, 80, 100).clamped, 2);
}

TEST(EncodeLines, MostNegativeSampleStopsAfterTheSamplesBeforeIt) {
    std::vector<int32_t> samples = random_samples(300, 4);
    for (size_t at : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{150}, size_t{299}}) {
        std::vector<int32_t> v = samples;
        v[at] = INT_MIN;
        const std::vector<int32_t> before(v.begin(), v.begin() + static_cast<long>(at));
        std::string want = in_lines(encode(before), 80);
        if (!want.empty() && encode(before).size() % 80 != 0) {
            want.pop_back();  // the open line is not ended
        }
        const Lines got = encode_lines(v, 80, most_needed(v.size(), 80));
        EXPECT_EQ(got.result, -1) << "at " << at;
        EXPECT_EQ(got.text, want) << "at " << at;
    }
}

TEST(EncodeLines, ShortBufferKeepsWholeSamplesWithTheirLineEnds) {
    const std::vector<int32_t> samples{1000, 1000, 1000};  // "Uz6" each
    // Width 4: "Uz6U\nz6Uz\n6\n".
    const size_t whole_at[] = {0, 0, 0, 3, 3, 3, 3, 7, 7, 7, 7, 11};
    for (size_t capacity = 0; capacity < 12; ++capacity) {
        const Lines got = encode_lines(samples, 4, capacity);
        EXPECT_EQ(got.result, -2) << capacity;
        EXPECT_EQ(got.text, std::string("Uz6U\nz6Uz\n6\n").substr(0, whole_at[capacity]))
            << capacity;
    }
    const Lines whole = encode_lines(samples, 4, 12);
    EXPECT_EQ(whole.result, 0);
    EXPECT_EQ(whole.text, "Uz6U\nz6Uz\n6\n");

    // Every capacity of a longer array, through both the block and the sample-wise paths.
    const std::vector<int32_t> many = random_samples(400, 8);
    const std::string all = in_lines(encode(many), 80);
    for (size_t capacity = 0; capacity <= all.size(); capacity += 7) {
        const Lines got = encode_lines(many, 80, capacity);
        ASSERT_EQ(got.result, capacity == all.size() ? 0 : -2) << capacity;
        ASSERT_EQ(got.text, all.substr(0, got.text.size())) << capacity;
        ASSERT_LT(capacity - got.text.size(), 8u) << "left room for another sample";
    }
}

TEST(EncodeLines, InvalidArguments) {
    const int32_t one = 1;
    char out[16];
    size_t length = 99;
    int clamped = 99;
    int column = 3;
    for (int width : {0, -1, INT_MIN}) {
        EXPECT_EQ(compress_6b_lines(&one, 1, width, nullptr, out, sizeof out, &length, &clamped),
                  -3);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(clamped, 0);
    }
    for (int bad : {-1, 4, 5}) {
        column = bad;
        EXPECT_EQ(compress_6b_lines(&one, 1, 4, &column, out, sizeof out, &length, nullptr), -3);
        EXPECT_EQ(column, bad) << "column changed";
    }
    length = 99;
    EXPECT_EQ(compress_6b_lines(nullptr, 1, 80, nullptr, out, sizeof out, &length, nullptr), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(compress_6b_lines(&one, 1, 80, nullptr, nullptr, 16, &length, nullptr), -1);
    EXPECT_EQ(compress_6b_lines(nullptr, 0, 80, nullptr, nullptr, 0, &length, nullptr), 0);
    EXPECT_EQ(length, 0u);
    column = 3;
    EXPECT_EQ(compress_6b_lines(&one, 1, 4, &column, out, sizeof out, nullptr, nullptr), 0);
    EXPECT_EQ(out[0], '-');
    EXPECT_EQ(out[1], '\n');
    EXPECT_EQ(column, 0);
}

}  // namespace
