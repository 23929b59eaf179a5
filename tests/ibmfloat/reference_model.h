// The exact result, worked out with plain integer steps: the word's value is
// fraction * 2^(4 * exponent - 280); find the float nearest to it, ties to even.
#ifndef IBMFLOAT_TEST_REFERENCE_MODEL_H
#define IBMFLOAT_TEST_REFERENCE_MODEL_H

#include <cstdint>

inline uint32_t reference_ibm_to_ieee(uint32_t word) {
    const uint32_t sign = word & 0x80000000u;
    uint64_t significand = word & 0x00ffffffu;
    int power = 4 * static_cast<int>((word >> 24) & 0x7fu) - 280;  // value = significand * 2^power
    if (significand == 0) {
        return sign;
    }
    // Make the significand exactly 24 bits long, as a float's is.
    while (significand < (uint64_t{1} << 23)) {
        significand <<= 1;
        power -= 1;
    }
    const int leading = power + 23;  // the value lies in [2^leading, 2^(leading + 1))
    if (leading > 127) {
        return sign | 0x7f800000u;
    }
    if (leading >= -126) {
        const auto field = static_cast<uint32_t>(leading + 127);
        return sign | (field << 23) | static_cast<uint32_t>(significand - (uint64_t{1} << 23));
    }
    // Below the normal range: count whole steps of the smallest subnormal, 2^-149, and round the
    // remainder. The significand has 24 bits, so beyond 40 dropped bits nothing reaches a half.
    const int dropped = -149 - power;
    if (dropped > 40) {
        return sign;
    }
    uint64_t steps = significand >> dropped;
    const uint64_t remainder = significand - (steps << dropped);
    const uint64_t twice_remainder = 2 * remainder;
    const uint64_t one_step = uint64_t{1} << dropped;
    if (twice_remainder > one_step || (twice_remainder == one_step && (steps & 1) != 0)) {
        steps += 1;  // reaching 2^23 steps is the smallest normal, with the same bit pattern
    }
    return sign | static_cast<uint32_t>(steps);
}

#endif
