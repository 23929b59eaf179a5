// The double holding an IBM word's exact value, built bit by bit: shift the fraction up so that its
// leading one sits at bit 52, and set the exponent field to match.
#ifndef IBMFLOAT_TEST_REFERENCE_TO_DOUBLE_H
#define IBMFLOAT_TEST_REFERENCE_TO_DOUBLE_H

#include <bit>
#include <cstdint>

inline uint64_t reference_ibm_to_double(uint32_t word) {
    const uint64_t sign = uint64_t{word & 0x80000000u} << 32;
    uint64_t significand = word & 0x00ffffffu;
    if (significand == 0) {
        return sign;
    }
    int power = 4 * static_cast<int>((word >> 24) & 0x7fu) - 280;  // value = significand * 2^power
    const int shift = 53 - static_cast<int>(std::bit_width(significand));
    significand <<= shift;
    power -= shift;
    const auto field = static_cast<uint64_t>(power + 52 + 1023);  // 743..1274: always normal
    return sign | (field << 52) | (significand - (uint64_t{1} << 52));
}

#endif
