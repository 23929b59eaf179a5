// ibm2double through every converter: worked values and edges, and out-of-place behaviour over
// every length and start offset.
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_to_double.h"

namespace {

uint64_t bits(double d) {
    return std::bit_cast<uint64_t>(d);
}

class ToDouble : public ConverterTest<ToDoubleConverter> {
  protected:
    // Converts a run of copies long enough to pass through every vector lane, the main loop and
    // the tail; all copies must agree.
    uint64_t convert(uint32_t word) const {
        const std::vector<uint32_t> run(67, word);
        std::vector<double> out(run.size(), 1234.5);
        GetParam().run(run.data(), out.data(), run.size());
        for (size_t i = 1; i < out.size(); ++i) {
            EXPECT_EQ(bits(out[i]), bits(out[0]))
                << "copy " << i << " of word 0x" << std::hex << word;
        }
        return bits(out[0]);
    }
    void expect(uint32_t word, double wanted) const {
        EXPECT_EQ(convert(word), bits(wanted)) << std::hex << "word 0x" << word;
    }
};

TEST_P(ToDouble, WorkedValues) {
    expect(0x41100000u, 1.0);
    expect(0xC2640000u, -100.0);
    expect(0xC276A000u, -118.625);
    expect(0x40800000u, 0.5);
    expect(0x1B800000u, 0x1p-149);
    expect(0x60FFFFFFu, 0x1.fffffep127);
    // Values no float holds: 24 significant bits below the float range, and beyond it.
    expect(0x00FFFFFFu, 0x1.fffffep-257);
    expect(0x00000001u, 0x1p-280);        // the smallest IBM magnitude
    expect(0x7FFFFFFFu, 0x1.fffffep251);  // the largest
    expect(0xFFFFFFFFu, -0x1.fffffep251);
    expect(0x61100000u, 0x1p128);
}

TEST_P(ToDouble, UnnormalisedFractionsAreExact) {
    expect(0x41000001u, 0x1p-20);  // fraction 2^-24, times 16
    expect(0x42000010u, 0x1p-12);
    expect(0xC1080000u, -0.5);
    expect(0x7F000001u, 0x1p228);
}

TEST_P(ToDouble, ZeroFractionsGiveZerosOfTheWordsSign) {
    expect(0x00000000u, 0.0);
    expect(0x80000000u, -0.0);
    expect(0x41000000u, 0.0);
    expect(0x7F000000u, 0.0);
    expect(0xFF000000u, -0.0);
    expect(0xC1000000u, -0.0);
}

TEST_P(ToDouble, EveryLengthAndOffsetTouchesOnlyItsDoubles) {
    const double guard = std::nan("0x5eed");
    constexpr size_t kGuard = 24;
    static const uint32_t kinds[] = {0x42640000u, 0xC276A000u, 0x1C0C0000u, 0x80000000u,
                                     0x61100000u, 0x7FFFFFFFu, 0x00000001u, 0xFF000000u};
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t count = 0; count <= 100; ++count) {
            std::vector<uint32_t> words(16 + count);
            for (size_t i = 0; i < words.size(); ++i) {
                words[i] = kinds[(i + count) % 8] ^ static_cast<uint32_t>((i * 40503u) & 0xFFFFu);
            }
            const std::vector<uint32_t> before = words;
            std::vector<double> out(2 * kGuard + 16 + count, guard);
            double *start = out.data() + kGuard + offset;
            GetParam().run(words.data() + offset, start, count);
            ASSERT_EQ(words, before) << "the input changed";
            for (size_t i = 0; i < out.size(); ++i) {
                const auto at = static_cast<size_t>(&out[i] - start);
                const bool inside = &out[i] >= start && at < count;
                const uint64_t wanted =
                    inside ? reference_ibm_to_double(words[offset + at]) : bits(guard);
                ASSERT_EQ(bits(out[i]), wanted)
                    << "offset " << offset << ", count " << count << ", output index " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Converters, ToDouble, testing::ValuesIn(every_to_double_converter()),
                         to_double_name);

TEST(Ibm2doubleEntry, EmptyNegativeOrNullDoesNothing) {
    const std::vector<uint32_t> words(8, 0x41100000u);
    std::vector<double> out(8, 5.0);
    ibm2double(words.data(), out.data(), 0);
    ibm2double(words.data(), out.data(), -1);
    ibm2double(words.data(), out.data(), INT_MIN);
    ibm2double(nullptr, out.data(), 8);
    ibm2double(words.data(), nullptr, 8);
    for (double d : out) {
        EXPECT_EQ(d, 5.0);
    }
}

}  // namespace
