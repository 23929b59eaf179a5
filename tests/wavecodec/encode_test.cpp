// The six-bit encoder: worked values, lengths, clamping, the unencodable sample, and the buffer
// variant against the writer variant.
#include "reference_codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

using test_support::encode;

namespace {

TEST(Encode, WorkedValues) {
    const struct {
        int32_t sample;
        const char *chars;
    } cases[] = {
        {0, "+"},
        {1, "-"},
        {-1, "F"},
        {15, "D"},
        {-15, "T"},
        {16, "UE"},
        {-16, "kE"},
        {31, "UT"},
        {32, "V+"},
        {511, "jT"},
        {512, "Uk+"},
        {1000, "Uz6"},
        {-1000, "kz6"},
        {134217727, "XzzzzT"},
        {-134217727, "nzzzzT"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(encode({c.sample}), c.chars) << c.sample;
    }
}

TEST(Encode, CharactersPerSampleAtEveryBoundary) {
    const int32_t first_of_length[] = {0, 16, 512, 16384, 524288, 16777216};
    for (int32_t sign : {1, -1}) {
        for (size_t length = 1; length <= 6; ++length) {
            const int32_t lo = first_of_length[length - 1];
            const int32_t hi = length < 6 ? first_of_length[length] - 1 : 134217727;
            EXPECT_EQ(encode({sign * lo}).size(), length) << sign * lo;
            EXPECT_EQ(encode({sign * hi}).size(), length) << sign * hi;
        }
    }
}

TEST(Encode, LargeMagnitudesClampSilently) {
    int result = 1;
    EXPECT_EQ(encode({134217728, INT_MAX}, &result), "XzzzzTXzzzzT");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(encode({-134217728, -INT_MAX}, &result), "nzzzzTnzzzzT");
    EXPECT_EQ(result, 0);
}

TEST(Encode, MostNegativeSampleStopsTheCall) {
    int result = 0;
    EXPECT_EQ(encode({INT_MIN}, &result), "");
    EXPECT_EQ(result, -1);
    // Earlier samples are already written; later ones are not looked at.
    EXPECT_EQ(encode({1, 1000, INT_MIN, 5}, &result), "-Uz6");
    EXPECT_EQ(result, -1);
}

TEST(Encode, EmptyAndInvalidArguments) {
    const int32_t one = 1;
    test_support::sink().clear();
    EXPECT_EQ(compress_6b_buffer(&one, 0, test_support::collect), 0);
    EXPECT_EQ(compress_6b_buffer(&one, -3, test_support::collect), 0);
    EXPECT_EQ(compress_6b_buffer(nullptr, 0, nullptr), 0);
    EXPECT_EQ(test_support::sink(), "");
    EXPECT_EQ(compress_6b_buffer(nullptr, 1, test_support::collect), -1);
    EXPECT_EQ(compress_6b_buffer(&one, 1, nullptr), -1);
}

TEST(Encode, AgreesWithPlainModelAcrossMagnitudes) {
    std::mt19937 random(7);
    std::vector<int32_t> samples;
    for (int i = 0; i < 20000; ++i) {
        // Spread over every bit length, both signs, and past the clamp.
        const unsigned bits = random() % 32;
        int32_t v = static_cast<int32_t>(random() >> (31 - bits) >> 1);
        samples.push_back((random() & 1) ? -v : v);
    }
    std::string expected;
    for (int32_t v : samples) {
        expected += reference::code(v);
    }
    int result = 1;
    EXPECT_EQ(encode(samples, &result), expected);
    EXPECT_EQ(result, 0);
}

// compress_6b_chars writes exactly what compress_6b_buffer hands its writer.
std::string encode_chars(const std::vector<int32_t> &samples, size_t capacity, int *result) {
    std::string out(capacity + 8, '#');  // bytes past the capacity are guards
    size_t length = 12345;
    *result = compress_6b_chars(samples.data(), static_cast<int>(samples.size()), out.data(),
                                capacity, &length);
    EXPECT_LE(length, capacity);
    EXPECT_EQ(out.substr(capacity), std::string(8, '#')) << "wrote past the capacity";
    EXPECT_EQ(out.find_first_of('#'), std::min(length, capacity)) << "length disagrees";
    return out.substr(0, length);
}

TEST(EncodeChars, SameCharactersAsTheWriter) {
    std::mt19937 random(11);
    std::vector<int32_t> samples;
    for (int i = 0; i < 5000; ++i) {
        samples.push_back(static_cast<int32_t>(random()) >> (random() % 32));
    }
    samples.push_back(INT_MAX);
    int result = 1;
    const std::string expected = encode(samples, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(encode_chars(samples, 6 * samples.size(), &result), expected);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(encode_chars(samples, expected.size(), &result), expected);
    EXPECT_EQ(result, 0);
}

TEST(EncodeChars, TooSmallBufferKeepsWholeSamplesOnly) {
    const std::vector<int32_t> samples{1000, 1000, 1000};  // "Uz6" each
    int result = 0;
    for (size_t capacity = 0; capacity < 9; ++capacity) {
        const std::string got = encode_chars(samples, capacity, &result);
        EXPECT_EQ(result, -2) << capacity;
        EXPECT_EQ(got.size(), capacity / 3 * 3) << capacity;
    }
    EXPECT_EQ(encode_chars(samples, 9, &result), "Uz6Uz6Uz6");
    EXPECT_EQ(result, 0);
}

TEST(EncodeChars, MostNegativeSampleAndInvalidArguments) {
    int result = 0;
    EXPECT_EQ(encode_chars({-1, INT_MIN, 1}, 64, &result), "F");
    EXPECT_EQ(result, -1);

    const int32_t one = 1;
    char out[8];
    size_t length = 99;
    EXPECT_EQ(compress_6b_chars(nullptr, 1, out, sizeof out, &length), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(compress_6b_chars(&one, 1, nullptr, 8, &length), -1);
    EXPECT_EQ(compress_6b_chars(&one, 0, nullptr, 0, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(compress_6b_chars(&one, 1, out, sizeof out, nullptr), 0);
    EXPECT_EQ(out[0], '-');
}

}  // namespace
