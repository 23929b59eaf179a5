// double2ibm through every converter against the exact integer model (reference_from_double.h):
// worked values at both ends of IBM's range, ties and their neighbours for every count of dropped
// bits and every exponent field, subnormal doubles, random sweeps, the count of doubles without
// an IBM value, agreement with ieee2ibm on doubles that are floats, and what it leaves alone.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_from_double.h"
#include "reference_to_ibm.h"

namespace {

uint64_t bits(double d) {
    return std::bit_cast<uint64_t>(d);
}

double from_bits(uint64_t b) {
    return std::bit_cast<double>(b);
}

class FromDouble : public ConverterTest<FromDoubleConverter> {
  protected:
    // Converts `in` (behind a start offset of 0 to 3 words, so vector code meets every
    // alignment), checks every word and the count against the model, and that nothing past the
    // end is written.
    void check(const std::vector<uint64_t> &in) const {
        for (size_t offset = 0; offset < 4; ++offset) {
            std::vector<double> doubles(offset + in.size());
            for (size_t i = 0; i < in.size(); ++i) {
                doubles[offset + i] = from_bits(in[i]);
            }
            std::vector<uint32_t> out(offset + in.size() + 1, 0xdeadbeefu);
            const size_t no_value =
                GetParam().run(doubles.data() + offset, out.data() + offset, in.size());
            size_t expected_no_value = 0;
            for (size_t i = 0; i < in.size(); ++i) {
                const ReferenceIbm want = reference_double_to_ibm(in[i]);
                expected_no_value += want.no_value ? 1 : 0;
                ASSERT_EQ(out[offset + i], want.word)
                    << std::hex << "double bits 0x" << in[i] << std::dec << " (" << from_bits(in[i])
                    << "), offset " << offset;
            }
            EXPECT_EQ(no_value, expected_no_value);
            EXPECT_EQ(out.back(), 0xdeadbeefu) << "wrote past the end";
            for (size_t i = 0; i < offset; ++i) {
                EXPECT_EQ(out[i], 0xdeadbeefu) << "wrote before the start";
            }
        }
    }
    uint32_t one(double d, size_t *no_value = nullptr) const {
        uint32_t w = 0;
        const size_t n = GetParam().run(&d, &w, 1);
        if (no_value != nullptr) {
            *no_value = n;
        }
        return w;
    }
};

// The model against values worked by hand (it is the oracle of everything below).
TEST(ReferenceFromDouble, WorkedValues) {
    EXPECT_EQ(reference_double_to_ibm(bits(1.0)).word, 0x41100000u);
    EXPECT_EQ(reference_double_to_ibm(bits(-100.0)).word, 0xC2640000u);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1p-260)).word, 0x00100000u);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1p-280)).word, 0x00000001u);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1p-281)).word, 0x00000000u);
    EXPECT_EQ(reference_double_to_ibm(bits(-0x3p-282)).word, 0x80000001u);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1.000008p0 + 0x1p-40)).word, 0x41100001u);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1.fffffep251)).word, 0x7FFFFFFFu);
    EXPECT_FALSE(reference_double_to_ibm(bits(0x1.fffffep251)).no_value);
    EXPECT_TRUE(reference_double_to_ibm(bits(0x1.ffffffp251)).no_value);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1.000008p0)).dropped, 32);
    EXPECT_EQ(reference_double_to_ibm(bits(0x1p-5)).dropped, 29);
}

TEST_P(FromDouble, WorkedValuesAndBothEndsOfTheRange) {
    const double largest = 0x1.fffffep251;  // (2^24 - 1) x 2^228
    size_t n = 9;
    EXPECT_EQ(one(1.0, &n), 0x41100000u);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(one(-118.625), 0xC276A000u);
    EXPECT_EQ(one(0.1), 0x4019999Au);  // 0x199999.99...: rounds up
    EXPECT_EQ(one(1.0 + 0x1p-21), 0x41100000u);           // tie, to even
    EXPECT_EQ(one(1.0 + 0x1p-21 + 0x1p-52), 0x41100001u);  // just above the tie
    EXPECT_EQ(one(1.0 + 0x3p-21), 0x41100002u);           // tie, up to even
    EXPECT_EQ(one(1.0 - 0x1p-53), 0x41100000u);           // carries into the next exponent
    EXPECT_EQ(one(largest, &n), 0x7FFFFFFFu);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(one(-largest), 0xFFFFFFFFu);
    EXPECT_EQ(one(0x1.fffffefffffffp251, &n), 0x7FFFFFFFu);  // below the tie: rounds down, in
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(one(0x1.ffffffp251, &n), 0x7FFFFFFFu);  // the tie: up to 16^64, out
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(one(-1e76, &n), 0xFFFFFFFFu);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(one(std::numeric_limits<double>::max(), &n), 0x7FFFFFFFu);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(one(-std::numeric_limits<double>::infinity(), &n), 0xFFFFFFFFu);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(one(from_bits(0x7ff8000000000000u), &n), 0x7FFFFFFFu);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(one(from_bits(0xfff0000000000001u), &n), 0xFFFFFFFFu);  // signalling, negative
    EXPECT_EQ(n, 1u);
    // The low end: normalised down to 16^-65, then the fraction shrinks to zero.
    EXPECT_EQ(one(0x1p-260), 0x00100000u);
    EXPECT_EQ(one(0x1p-256), 0x01100000u);
    EXPECT_EQ(one(0x1p-256 * (1 - 0x1p-30)), 0x01100000u);  // rounds up across 16^-64
    EXPECT_EQ(one(0x1p-280), 0x00000001u);
    EXPECT_EQ(one(-0x1p-281), 0x80000000u);  // tie down to the even zero, sign kept
    EXPECT_EQ(one(0x3p-282), 0x00000001u);
    EXPECT_EQ(one(0x3p-281), 0x00000002u);   // 1.5 units: tie up to even
    EXPECT_EQ(one(0x1p-261 * 3), 0x00180000u);
    EXPECT_EQ(one(5e-324), 0x00000000u);
    EXPECT_EQ(one(-5e-324), 0x80000000u);
    EXPECT_EQ(one(std::numeric_limits<double>::min()), 0x00000000u);
    EXPECT_EQ(one(0.0), 0x00000000u);
    EXPECT_EQ(one(-0.0), 0x80000000u);
}

// For every exponent field of the double (so every count of dropped bits, 29 to 32 in the
// normal range and more below 16^-65, subnormal doubles included): the tie, its neighbours, the
// largest and smallest remainders, and random mantissas.
TEST_P(FromDouble, EveryExponentFieldAndDroppedBitCount) {
    std::mt19937_64 gen(7);
    std::vector<uint64_t> in;
    std::vector<bool> dropped_seen(64, false);
    for (uint64_t field = 0; field < 0x7ff; ++field) {
        for (int r = 0; r < 6; ++r) {
            const uint64_t sign = static_cast<uint64_t>(r & 1) << 63;
            const uint64_t mantissa = gen() & ((uint64_t{1} << 52) - 1);
            const uint64_t b = sign | (field << 52) | mantissa;
            const int s = reference_double_to_ibm(b).dropped;
            in.push_back(b);
            if (s <= 0) {
                continue;  // zero or no value
            }
            if (s < 64) {
                dropped_seen[static_cast<size_t>(s)] = true;
            }
            if (s > 52) {
                continue;  // every mantissa bit is dropped: the random one covers it
            }
            const uint64_t low = (uint64_t{1} << s) - 1;
            const uint64_t tie = (b & ~low) | (uint64_t{1} << (s - 1));
            for (uint64_t v : {tie, tie - 1, tie + 1, b & ~low, b | low}) {
                if (((v >> 52) & 0x7ffu) == field) {
                    in.push_back(v);
                }
            }
        }
    }
    for (int s = 29; s <= 63; ++s) {
        EXPECT_TRUE(dropped_seen[static_cast<size_t>(s)]) << s << " dropped bits not reached";
    }
    check(in);
}

TEST_P(FromDouble, RandomBitPatternsAndRandomValuesInRange) {
    std::mt19937_64 gen(11);
    std::vector<uint64_t> any(20000);
    for (uint64_t &b : any) {
        b = gen();
    }
    check(any);
    // Only IBM's normal range (fields 767 to 1273), where kernels take their short form for
    // whole blocks; a quarter are ties with or without a low bit below them.
    std::vector<uint64_t> normal(20000);
    for (size_t i = 0; i < normal.size(); ++i) {
        const uint64_t field = 767 + gen() % 507;
        uint64_t b = (gen() & ~(uint64_t{0x7ff} << 52)) | (field << 52);
        if (i % 4 == 0) {
            const int s = reference_double_to_ibm(b).dropped;
            const uint64_t low = (uint64_t{1} << s) - 1;
            b = (b & ~low) | (uint64_t{1} << (s - 1)) | (gen() % 4 == 0 ? 1u : 0u);
        }
        normal[i] = b;
    }
    check(normal);
}

// Every length up to two portable blocks and a vector's worth more, with a non-finite value
// somewhere in most of them, so the count is checked at every position.
TEST_P(FromDouble, EveryLengthAndPositionOfNoValue) {
    std::mt19937_64 gen(3);
    for (size_t n = 0; n <= 70; ++n) {
        std::vector<uint64_t> in(n);
        for (uint64_t &b : in) {
            b = bits(std::ldexp(static_cast<double>(gen() % 2000000) - 1e6, -10));
        }
        if (n > 0) {
            in[gen() % n] = bits(n % 3 == 0 ? std::nan("") : 1e300);
        }
        check(in);
    }
}

// A double that is exactly a float gives the word ieee2ibm gives for that float, infinities and
// NaNs included: both conversions follow the same conventions.
TEST_P(FromDouble, AgreesWithIeee2ibmOnFloats) {
    std::mt19937 gen(5);
    std::vector<uint32_t> floats(30000);
    for (uint32_t &f : floats) {
        f = static_cast<uint32_t>(gen());
    }
    floats.insert(floats.end(), {0x00000001u, 0x007fffffu, 0x7f7fffffu, 0x7f800000u, 0xff800000u,
                                 0x7fc00000u, 0x80000000u, 0x3f800004u, 0x3f80000cu});
    std::vector<double> doubles(floats.size());
    for (size_t i = 0; i < floats.size(); ++i) {
        doubles[i] = static_cast<double>(std::bit_cast<float>(floats[i]));
    }
    std::vector<uint32_t> out(floats.size());
    std::vector<uint32_t> in_place = floats;
    EXPECT_EQ(GetParam().run(doubles.data(), out.data(), doubles.size()),
              static_cast<size_t>(ieee2ibm(in_place.data(), static_cast<int>(in_place.size()))));
    for (size_t i = 0; i < floats.size(); ++i) {
        ASSERT_EQ(out[i], in_place[i]) << std::hex << "float bits 0x" << floats[i];
        ASSERT_EQ(out[i], reference_float_to_ibm(floats[i])) << std::hex << "0x" << floats[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Converters, FromDouble, testing::ValuesIn(every_from_double_converter()),
                         from_double_name);

TEST(Double2ibmEntry, NothingForNullPointersOrCountsOfZeroAndBelow) {
    const double in[2] = {1.0, std::numeric_limits<double>::infinity()};
    uint32_t out[2] = {0xdeadbeefu, 0xdeadbeefu};
    for (int count : {0, -1, -2, INT32_MIN}) {
        EXPECT_EQ(double2ibm(in, out, count), 0);
    }
    EXPECT_EQ(double2ibm(nullptr, out, 2), 0);
    EXPECT_EQ(double2ibm(in, nullptr, 2), 0);
    EXPECT_EQ(out[0], 0xdeadbeefu);
    EXPECT_EQ(out[1], 0xdeadbeefu);
    EXPECT_EQ(double2ibm(in, out, 2), 1);
    EXPECT_EQ(out[0], 0x41100000u);
    EXPECT_EQ(out[1], 0x7fffffffu);
}

}  // namespace
