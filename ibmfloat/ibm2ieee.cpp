// ibm2ieee: IBM single-precision words to IEEE single precision, exactly rounded.
#include "exported.h"

#include <bit>

namespace {

uint32_t convert(uint32_t w) {
    const uint32_t sign = w & 0x80000000u;
    const uint32_t fraction = w & 0x00ffffffu;
    if (fraction == 0) {
        return sign;
    }
    // Normalise the fraction so that bit 23 is set; value = m * 2^(4 * (exp - 64) - 24 - lz).
    const int lz = std::countl_zero(fraction) - 8;
    const uint32_t m = fraction << lz;
    const int exponent = static_cast<int>((w >> 24) & 0x7fu);
    const int biased = 4 * exponent - 130 - lz;
    if (biased >= 255) {
        return sign | 0x7f800000u;
    }
    if (biased >= 1) {
        return sign | (static_cast<uint32_t>(biased) << 23) | (m & 0x007fffffu);
    }
    // Subnormal or zero: shift right by 1 - biased, rounding to nearest, ties to even.
    const int shift = 1 - biased;
    if (shift > 24) {
        return sign;
    }
    const uint32_t kept = m >> shift;
    const uint32_t dropped = m & ((1u << shift) - 1u);
    const uint32_t half = 1u << (shift - 1);
    const uint32_t rounded = kept + ((dropped > half || (dropped == half && (kept & 1u))) ? 1u : 0u);
    return sign | rounded;
}

}  // namespace

void ibm2ieee(uint32_t *words, int count) {
    if (words == nullptr) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        words[i] = convert(words[i]);
    }
}
