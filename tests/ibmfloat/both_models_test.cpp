// The integer models of ieee2ibm and ibm2double used by the full sweep, checked against a second,
// independent route in double arithmetic: every float is exactly a double, and dividing it by
// powers of 16 is exact, so rounding the scaled fraction once with nearbyint (ties to even) gives
// the nearest IBM fraction; and an IBM word's value is exactly ldexp(fraction, 4e - 280).
#include <bit>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "reference_to_double.h"
#include "reference_to_ibm.h"

namespace {

uint32_t to_ibm_through_double(uint32_t bits) {
    const double value = std::bit_cast<float>(bits);
    const uint32_t sign = bits & 0x80000000u;
    if (!std::isfinite(value)) {
        return sign | 0x7fffffffu;
    }
    double scaled = std::fabs(value);
    if (scaled == 0.0) {
        return sign;
    }
    uint32_t exponent = 64;  // value = scaled * 16^(exponent - 64), scaled in [1/16, 1)
    for (; scaled >= 1.0; scaled /= 16.0) {
        ++exponent;
    }
    for (; scaled < 1.0 / 16.0; scaled *= 16.0) {
        --exponent;
    }
    auto fraction = static_cast<uint32_t>(std::nearbyint(std::ldexp(scaled, 24)));
    if (fraction == (1u << 24)) {
        fraction = 1u << 20;
        ++exponent;
    }
    return sign | (exponent << 24) | fraction;
}

TEST(ToIbmModel, AgreesWithDoubleArithmetic) {
    // Every exponent and sign, with mantissas sampled across the range, and the ends of it.
    for (uint32_t high = 0; high < 512; ++high) {
        for (uint32_t mantissa = 0; mantissa < 0x00800000u; mantissa += 4999) {
            for (uint32_t low : {mantissa, 0x007fffffu - mantissa}) {
                const uint32_t bits = (high << 23) | low;
                ASSERT_EQ(reference_float_to_ibm(bits), to_ibm_through_double(bits))
                    << std::hex << "float bits 0x" << bits;
            }
        }
    }
}

TEST(ToDoubleModel, AgreesWithLdexp) {
    for (uint32_t high = 0; high < 256; ++high) {
        for (uint32_t fraction = 0; fraction < 0x01000000u; fraction += 4999) {
            for (uint32_t low : {fraction, 0x00ffffffu - fraction}) {
                const uint32_t word = (high << 24) | low;
                const double magnitude = std::ldexp(static_cast<double>(low),
                                                    4 * static_cast<int>(high & 0x7fu) - 280);
                const double value = (high & 0x80u) != 0 ? -magnitude : magnitude;
                ASSERT_EQ(reference_ibm_to_double(word), std::bit_cast<uint64_t>(value))
                    << std::hex << "word 0x" << word;
            }
        }
    }
}

}  // namespace
