// The IBM word nearest to a double, worked out with plain integer steps by another route than the
// library's: the double is m * 2^e exactly with its leading one at 2^top; the exponent field x is
// the one whose range [2^(4x - 260), 2^(4x - 256)) holds 2^top (0 for anything lower); the
// fraction is m / 2^shift, shift = 4x - 280 - e, rounded by the remainder, ties to even. Shared
// by the tests and the fuzz target.
#ifndef WAVELIBS_TEST_REFERENCE_FROM_DOUBLE_H
#define WAVELIBS_TEST_REFERENCE_FROM_DOUBLE_H

#include <bit>
#include <cstdint>

struct ReferenceIbm {
    uint32_t word;  // the largest magnitude with the sign when there is no IBM value
    bool no_value;  // NaN, infinity, or beyond the largest IBM value
    int dropped;    // how many low bits of m the rounding removed (0 for zeros and no value)
};

inline ReferenceIbm reference_double_to_ibm(uint64_t bits) {
    const uint32_t sign = static_cast<uint32_t>(bits >> 63) << 31;
    const int field = static_cast<int>((bits >> 52) & 0x7ffu);
    const uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    if (field == 0x7ff) {
        return {sign | 0x7fffffffu, true, 0};
    }
    const uint64_t m = field == 0 ? mantissa : (mantissa | (uint64_t{1} << 52));
    if (m == 0) {
        return {sign, false, 0};
    }
    const int e = (field == 0 ? 1 : field) - 1075;
    const int top = static_cast<int>(std::bit_width(m)) - 1 + e;
    int x = top < -260 ? 0 : (top + 260) / 4;
    const int shift = 4 * x - 280 - e;
    uint64_t fraction = 0;
    if (shift <= 0) {
        fraction = m << -shift;  // never for doubles (shift >= 29), kept for completeness
    } else if (shift < 64) {
        const uint64_t unit = uint64_t{1} << shift;
        fraction = m >> shift;
        const uint64_t twice_remainder = 2 * (m & (unit - 1));  // m < 2^53: no overflow
        if (twice_remainder > unit || (twice_remainder == unit && (fraction & 1) != 0)) {
            fraction += 1;
        }
    }  // else: m < 2^53 is below half a unit, fraction 0
    if (fraction == (uint64_t{1} << 24)) {
        fraction >>= 4;
        x += 1;
    }
    if (x > 127) {
        return {sign | 0x7fffffffu, true, 0};
    }
    return {sign | (static_cast<uint32_t>(x) << 24) | static_cast<uint32_t>(fraction), false,
            shift};
}

#endif
