// One IEEE single to the nearest IBM single, for any bit pattern. Internal linkage, so that each
// kernel file gets its own copy compiled for its own instruction set.
//
// A finite float is M * 2^(B - 183) with a 24-bit significand M (leading bit set) and B its
// biased exponent plus 33 (so that B >= 11 also for subnormals, normalised below). Its IBM
// exponent field is 25 + B / 4, and with k = B % 4 the IBM fraction is M * 2^k / 8, rounded to
// nearest, ties to even. The fraction then has 21 + k bits, so it is normalised; for k = 3 nothing
// is dropped, so rounding can never carry out of the 24-bit fraction.
#ifndef IBMFLOAT_TO_IBM_WORD_H
#define IBMFLOAT_TO_IBM_WORD_H

#include <bit>
#include <cstdint>

namespace ibmfloat {
namespace {

constexpr uint32_t kIbmSignBit = 0x80000000u;
constexpr uint32_t kIbmLargest = 0x7fffffffu;  // what infinities and NaNs become, with their sign
constexpr uint32_t kFloatExponentMask = 0xffu;
constexpr uint32_t kFloatMantissaMask = 0x007fffffu;
constexpr uint32_t kFloatHiddenBit = 0x00800000u;

// The IBM fraction from a 24-bit significand and k = 0..3. The shift by k is made of a shift by
// bit 0 of k and one by bit 1, each selected by a mask: shifts by a constant only, so that loops
// vectorize also where vectors have no per-lane shift (SSE2).
inline uint32_t ibm_fraction(uint32_t significand, uint32_t k) {
    const uint32_t by_one = 0u - (k & 1u);
    const uint32_t by_two = 0u - ((k >> 1) & 1u);
    uint32_t scaled = significand + (significand & by_one);
    scaled += ((scaled << 2) - scaled) & by_two;
    return (scaled + 3u + ((scaled >> 3) & 1u)) >> 3;
}

inline bool has_no_ibm_value(uint32_t f) {
    return ((f >> 23) & kFloatExponentMask) == kFloatExponentMask;
}

// Without branches (selections by masks), so that loops over it vectorize.
inline uint32_t to_ibm_word(uint32_t f) {
    const uint32_t exponent = (f >> 23) & kFloatExponentMask;
    const uint32_t mantissa = f & kFloatMantissaMask;
    // A subnormal m * 2^-149: the integer m converts to a float exactly, whose exponent and
    // mantissa are those of the normalised significand (integer work, so no denormals-are-zero
    // mode of the caller can interfere). Zeros are replaced at the end.
    const uint32_t as_float =
        std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(mantissa)));
    const uint32_t subnormal = 0u - static_cast<uint32_t>(exponent == 0);
    const uint32_t b = (((as_float >> 23) - 116u) & subnormal) | ((exponent + 33u) & ~subnormal);
    const uint32_t significand =
        (as_float & kFloatMantissaMask & subnormal) | (mantissa & ~subnormal) | kFloatHiddenBit;
    uint32_t magnitude = ((25u + (b >> 2)) << 24) | ibm_fraction(significand, b & 3u);
    magnitude &= 0u - static_cast<uint32_t>((f & ~kIbmSignBit) != 0);         // zeros
    magnitude |= 0u - static_cast<uint32_t>(exponent == kFloatExponentMask);  // no value
    return (f & kIbmSignBit) | (magnitude & kIbmLargest);
}

}  // namespace
}  // namespace ibmfloat

#endif
