// Known words and their exact results, through every converter. Each word is converted as a run
// of copies long enough to pass through every vector lane, the main loop and the tail.
#include <bit>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"

namespace {

class Values : public ConverterTest<Converter> {
  protected:
    uint32_t convert(uint32_t word) const {
        std::vector<uint32_t> run(67, word);
        GetParam().run(run.data(), run.size());
        for (size_t i = 1; i < run.size(); ++i) {
            EXPECT_EQ(run[i], run[0]) << "copy " << i << " of word 0x" << std::hex << word;
        }
        return run[0];
    }
    void expect(uint32_t word, uint32_t wanted) const {
        EXPECT_EQ(convert(word), wanted) << std::hex << "word 0x" << word;
    }
};

uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

TEST_P(Values, WorkedValues) {
    expect(0x41100000u, bits(1.0f));
    expect(0xC1100000u, bits(-1.0f));
    expect(0x42640000u, bits(100.0f));
    expect(0xC276A000u, bits(-118.625f));
    expect(0x40800000u, bits(0.5f));
    expect(0x00000000u, bits(0.0f));
    expect(0x5F100000u, bits(0x1p120f));
    expect(0x60100000u, bits(0x1p124f));  // exponent field 96: finite
    expect(0x1A100000u, bits(0.0f));
    expect(0x3F800000u, bits(0x1p-5f));  // 8/16 * 16^-1
    expect(0x4110000Fu, bits(1.0f + 15 * 0x1p-20f));
}

TEST_P(Values, ZerosKeepTheirSign) {
    expect(0x00000000u, 0x00000000u);
    expect(0x80000000u, 0x80000000u);
    // A zero fraction is zero whatever the exponent, even at the top of the range.
    expect(0x41000000u, 0x00000000u);
    expect(0xC1000000u, 0x80000000u);
    expect(0x7F000000u, 0x00000000u);
    expect(0xFF000000u, 0x80000000u);
    // Values that round to zero keep the sign too.
    expect(0x1A100000u, 0x00000000u);
    expect(0x9A100000u, 0x80000000u);
    expect(0x00FFFFFFu, 0x00000000u);
    expect(0x80FFFFFFu, 0x80000000u);
}

// "Steps" are multiples of the smallest subnormal, 2^-149.
TEST_P(Values, SubnormalsRoundToNearestEven) {
    expect(0x1B800000u, 0x00000001u);  // 2^23 * 2^-172 = 2^-149, the smallest subnormal
    expect(0x1C080000u, 0x00000001u);  // the same value with another exponent
    expect(0x9C080000u, 0x80000001u);
    expect(0x1C040000u, 0x00000000u);  // half the smallest: tie, to even (zero)
    expect(0x9C040000u, 0x80000000u);
    expect(0x1C040001u, 0x00000001u);  // just above the half
    expect(0x1C03FFFFu, 0x00000000u);  // just below the half
    expect(0x1C0C0000u, 0x00000002u);  // 1.5 steps: tie, to even (2)
    expect(0x1C140000u, 0x00000002u);  // 2.5 steps: tie, to even (2)
    expect(0x1C1C0000u, 0x00000004u);  // 3.5 steps: tie, to even (4)
    expect(0x1C0A0000u, 0x00000001u);  // 1.25 steps
    expect(0x1C0E0000u, 0x00000002u);  // 1.75 steps
    expect(0x213FFFFFu, 0x007FFFFEu);  // exact, near the top of the subnormal range
    expect(0x21400000u, 0x00800000u);  // exactly the smallest normal, 2^-126
    expect(0xA1400000u, 0x80800000u);
}

// With exponent field 32 a word's value is below 2^-128, so rounding up never reaches the
// smallest normal; the carry out of a full significand is checked where it does occur.
TEST_P(Values, SubnormalRoundingCarriesIntoTheNextPower) {
    expect(0x20FFFFFFu, 0x00200000u);  // (2^24 - 1) / 8 steps rounds up to 2^21 steps
    expect(0x20FFFFFBu, 0x001FFFFFu);  // (2^24 - 5) / 8 = 2^21 - 0.625 rounds to 2^21 - 1
    expect(0x20FFFFF4u, 0x001FFFFEu);  // 2^21 - 1.5: tie, to even
}

TEST_P(Values, TopOfTheRange) {
    expect(0x60FFFFFFu, 0x7F7FFFFFu);  // (2^24 - 1) * 2^104: the largest finite float
    expect(0xE0FFFFFFu, 0xFF7FFFFFu);
    expect(0x60800000u, bits(0x1p127f));
    expect(0x610FFFFFu, 0x7F7FFFF0u);  // (2^20 - 1) * 2^108: still finite
    expect(0x61100000u, 0x7F800000u);  // 2^128: the first word to overflow
    expect(0xE1100000u, 0xFF800000u);
    expect(0x7FFFFFFFu, 0x7F800000u);
    expect(0xFFFFFFFFu, 0xFF800000u);
}

INSTANTIATE_TEST_SUITE_P(Converters, Values, testing::ValuesIn(every_converter()),
                         converter_name);

}  // namespace
