// The integer model used by the full sweep, checked against a second, independent route: the
// value is exact in double precision (a 24-bit fraction times 2^-280..2^228), and one conversion
// to float rounds it to nearest even, subnormals and overflow included.
#include <bit>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "reference_model.h"

namespace {

uint32_t through_double(uint32_t word) {
    const double magnitude = std::ldexp(static_cast<double>(word & 0x00FFFFFFu),
                                        4 * static_cast<int>((word >> 24) & 0x7Fu) - 280);
    const auto rounded = static_cast<float>((word & 0x80000000u) != 0 ? -magnitude : magnitude);
    return std::bit_cast<uint32_t>(rounded);
}

TEST(ReferenceModel, AgreesWithDoubleRounding) {
    // Every exponent field and sign, with fractions sampled across the whole range.
    for (uint32_t high = 0; high < 256; ++high) {
        for (uint32_t fraction = 0; fraction < 0x01000000u; fraction += 997) {
            const uint32_t word = (high << 24) | fraction;
            ASSERT_EQ(reference_ibm_to_ieee(word), through_double(word))
                << std::hex << "word 0x" << word;
        }
    }
}

TEST(ReferenceModel, AgreesOnTiesAndEdges) {
    for (uint32_t word :
         {0x1C040000u, 0x1C0C0000u, 0x1C0E0000u, 0x1C140000u, 0x1C1C0000u, 0x20FFFFFFu, 0x20FFFFF4u,
          0x213FFFFFu, 0x60FFFFFFu, 0x61100000u, 0x80000000u, 0xFF000000u, 0x00000001u}) {
        EXPECT_EQ(reference_ibm_to_ieee(word), through_double(word))
            << std::hex << "word 0x" << word;
    }
}

}  // namespace
