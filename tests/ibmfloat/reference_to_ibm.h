// The IBM word nearest to a float, worked out with plain integer steps by another route than the
// library's: the float's value is m * 2^e exactly, with its leading one at 2^top; the exponent
// field x is the one whose range [2^(4x - 260), 2^(4x - 256)) holds 2^top; the fraction is the
// value divided by the field's unit 2^(4x - 280), rounded by the remainder, ties to even.
#ifndef IBMFLOAT_TEST_REFERENCE_TO_IBM_H
#define IBMFLOAT_TEST_REFERENCE_TO_IBM_H

#include <bit>
#include <cstdint>

inline uint32_t reference_float_to_ibm(uint32_t bits) {
    const uint32_t sign = bits & 0x80000000u;
    const uint32_t field = (bits >> 23) & 0xffu;
    const uint32_t mantissa = bits & 0x007fffffu;
    if (field == 0xff) {
        return sign | 0x7fffffffu;
    }
    if (field == 0 && mantissa == 0) {
        return sign;
    }
    // value = m * 2^e
    const uint64_t m = field == 0 ? mantissa : (mantissa | 0x00800000u);
    const int e = field == 0 ? -149 : static_cast<int>(field) - 150;
    const int top = static_cast<int>(std::bit_width(m)) - 1 + e;  // -149..127
    uint32_t x = static_cast<uint32_t>(top + 260) / 4;
    const int shift = 4 * static_cast<int>(x) - 280 - e;  // fraction = m / 2^shift
    uint64_t fraction = 0;
    if (shift <= 0) {
        fraction = m << -shift;
    } else {
        const uint64_t unit = uint64_t{1} << shift;  // shift <= 3 for floats
        fraction = m >> shift;
        const uint64_t twice_remainder = 2 * (m & (unit - 1));
        if (twice_remainder > unit || (twice_remainder == unit && (fraction & 1) != 0)) {
            fraction += 1;
        }
    }
    if (fraction == (uint64_t{1} << 24)) {  // the carry filled the fraction: next exponent
        fraction >>= 4;
        x += 1;
    }
    return sign | (x << 24) | static_cast<uint32_t>(fraction);
}

#endif
