// The IBM word nearest to a float, worked out with plain integer steps by another route than the
// library's: the float's value is M * 2^E exactly; search upwards for the first exponent field
// whose range holds it, then divide by the field's unit with a remainder and round ties to even.
#ifndef IBMFLOAT_TEST_REFERENCE_TO_IBM_H
#define IBMFLOAT_TEST_REFERENCE_TO_IBM_H

#include <cstdint>

// Whether m * 2^e < 2^p, for m > 0.
inline bool below_power(uint64_t m, int e, int p) {
    int length = 0;
    while (length < 64 && (m >> length) != 0) {
        ++length;
    }
    return length + e <= p;  // m < 2^length, and m >= 2^(length - 1)
}

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
    // The smallest exponent field x with value < 16^(x - 64) = 2^(4x - 256); then the fraction,
    // value / 2^(4x - 280), is at least 2^20 (normalised) unless x is 0.
    uint32_t x = 0;
    while (x < 127 && !below_power(m, e, 4 * static_cast<int>(x) - 256)) {
        ++x;
    }
    const int shift = 4 * static_cast<int>(x) - 280 - e;  // fraction = m / 2^shift
    uint64_t fraction = 0;
    if (shift <= 0) {
        fraction = m << -shift;
    } else {
        const uint64_t unit = uint64_t{1} << shift;
        fraction = m / unit;
        const uint64_t twice_remainder = 2 * (m % unit);
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
