// ieee2ibm through every converter: worked values and edges, the count of words without an IBM
// value, and in-place behaviour over every length and start offset.
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_to_ibm.h"

namespace {

uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

class ToIbm : public ConverterTest<ToIbmConverter> {
  protected:
    // Converts a run of copies long enough to pass through every vector lane, the main loop and
    // the tail; all copies must agree, and the count must be the run's length or zero.
    uint32_t convert(uint32_t word) const {
        std::vector<uint32_t> run(67, word);
        const size_t no_value = GetParam().run(run.data(), run.size());
        const bool counted = ((word >> 23) & 0xffu) == 0xffu;
        EXPECT_EQ(no_value, counted ? run.size() : 0u) << std::hex << "word 0x" << word;
        for (size_t i = 1; i < run.size(); ++i) {
            EXPECT_EQ(run[i], run[0]) << "copy " << i << " of word 0x" << std::hex << word;
        }
        return run[0];
    }
    void expect(uint32_t word, uint32_t wanted) const {
        EXPECT_EQ(convert(word), wanted) << std::hex << "float bits 0x" << word;
    }
};

TEST_P(ToIbm, WorkedValues) {
    expect(bits(1.0f), 0x41100000u);
    expect(bits(-100.0f), 0xC2640000u);
    expect(bits(-118.625f), 0xC276A000u);
    expect(bits(0.5f), 0x40800000u);
    expect(bits(0x1p-5f), 0x3F800000u);
    expect(bits(0x1p124f), 0x60100000u);
    expect(bits(FLT_MAX), 0x60FFFFFFu);  // (2^24 - 1) * 2^104: exact, exponent field 96
    expect(bits(-FLT_MAX), 0xE0FFFFFFu);
    expect(bits(FLT_MIN), 0x21400000u);  // 2^-126
    expect(0x00000001u, 0x1B800000u);    // the smallest subnormal, 2^-149: exponent field 27
    expect(0x80000001u, 0x9B800000u);
}

// IBM fractions hold 21 to 24 bits depending on where the value lies between powers of 16, so a
// float with a 24-bit significand loses up to three bits; ties go to the even fraction.
TEST_P(ToIbm, RoundsToNearestEvenFraction) {
    expect(bits(1.0f + 0x1p-21f), 0x41100000u);      // 0x100000.5: tie, down to even
    expect(bits(1.0f + 3 * 0x1p-21f), 0x41100002u);  // 0x100001.5: tie, up to even
    expect(bits(1.0f + 0x1p-23f), 0x41100000u);      // 0x100000.125: down
    expect(bits(1.0f + 5 * 0x1p-23f), 0x41100001u);  // 0x100000.625: up
    expect(bits(-(1.0f + 3 * 0x1p-21f)), 0xC1100002u);
    expect(bits(2.0f - 0x1p-23f), 0x41200000u);   // 0x1FFFFF.875 carries to 0x200000
    expect(bits(16.0f - 0x1p-20f), 0x41FFFFFFu);  // 24 significant bits: exact
    // The largest subnormal, (2^23 - 1) * 2^-149, is 2^22 - 0.5 units of 2^-148: a tie, up to
    // the even 2^22, which is the smallest normal float.
    expect(0x007FFFFFu, 0x21400000u);
    expect(0x007FFFFDu, 0x213FFFFEu);  // 2^22 - 1.5 units: tie, to even
    expect(0x00000003u, 0x1C180000u);  // 3 * 2^-149: exact, exponent field 28
}

TEST_P(ToIbm, ZerosKeepTheirSign) {
    expect(0x00000000u, 0x00000000u);
    expect(0x80000000u, 0x80000000u);
}

TEST_P(ToIbm, InfinitiesAndNaNsSaturateAndAreCounted) {
    expect(bits(INFINITY), 0x7FFFFFFFu);
    expect(bits(-INFINITY), 0xFFFFFFFFu);
    expect(0x7FC00000u, 0x7FFFFFFFu);
    expect(0x7F800001u, 0x7FFFFFFFu);  // signalling NaN
    expect(0xFFFFFFFFu, 0xFFFFFFFFu);
    std::vector<uint32_t> words(100, bits(2.0f));
    words[3] = bits(INFINITY);
    words[40] = 0xFFC00000u;
    words[99] = bits(-INFINITY);
    EXPECT_EQ(GetParam().run(words.data(), words.size()), 3u);
    EXPECT_EQ(words[3], 0x7FFFFFFFu);
    EXPECT_EQ(words[40], 0xFFFFFFFFu);
    EXPECT_EQ(words[99], 0xFFFFFFFFu);
    EXPECT_EQ(words[98], 0x41200000u);
}

TEST_P(ToIbm, EveryLengthAndOffsetTouchesOnlyItsWords) {
    constexpr uint32_t kGuard = 0xDEADBEEFu;
    constexpr size_t kGuardWords = 24;
    // Floats of every kind: normal, subnormal, zero, infinite, NaN; both signs.
    static const uint32_t kinds[] = {bits(1.0f),     bits(-3.5e-3f), 0x00012345u, 0x80000000u,
                                     bits(INFINITY), bits(7e30f),    0xFFC00001u, bits(-2e-40f)};
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t count = 0; count <= 100; ++count) {
            std::vector<uint32_t> buffer(2 * kGuardWords + 16 + count, kGuard);
            uint32_t *start = buffer.data() + kGuardWords + offset;
            std::vector<uint32_t> input(count);
            size_t wanted_count = 0;
            for (size_t i = 0; i < count; ++i) {
                const auto low_bits = static_cast<uint32_t>((i * 2654435761u) & 0xFFFu);
                input[i] = kinds[(i + count) % 8] ^ low_bits;
                start[i] = input[i];
                wanted_count += ((input[i] >> 23) & 0xffu) == 0xffu ? 1u : 0u;
            }
            ASSERT_EQ(GetParam().run(start, count), wanted_count)
                << "offset " << offset << ", count " << count;
            for (size_t i = 0; i < buffer.size(); ++i) {
                const auto at = static_cast<size_t>(&buffer[i] - start);
                const bool inside = &buffer[i] >= start && at < count;
                const uint32_t wanted = inside ? reference_float_to_ibm(input[at]) : kGuard;
                ASSERT_EQ(buffer[i], wanted)
                    << "offset " << offset << ", count " << count << ", buffer index " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Converters, ToIbm, testing::ValuesIn(every_to_ibm_converter()),
                         to_ibm_name);

TEST(Ieee2ibmEntry, EmptyNegativeOrNullDoesNothing) {
    std::vector<uint32_t> buffer(8, bits(INFINITY));
    EXPECT_EQ(ieee2ibm(buffer.data(), 0), 0);
    EXPECT_EQ(ieee2ibm(buffer.data(), -1), 0);
    EXPECT_EQ(ieee2ibm(buffer.data(), INT_MIN), 0);
    for (uint32_t w : buffer) {
        EXPECT_EQ(w, bits(INFINITY));
    }
    EXPECT_EQ(ieee2ibm(nullptr, 8), 0);
    EXPECT_EQ(ieee2ibm(nullptr, 0), 0);
}

}  // namespace
