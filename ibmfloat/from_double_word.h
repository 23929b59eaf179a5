// One IEEE double to the nearest IBM single, for any bit pattern. Internal linkage, so that each
// kernel file gets its own copy compiled for its own instruction set.
//
// A double is M * 2^E with M its 53-bit significand (hidden bit included for normals) and
// E = max(field, 1) - 1075. Its IBM exponent is k, the one with 16^(k-1) <= value < 16^k, at least
// -64 (exponent field k + 64); the fraction is M / 2^s rounded to nearest, ties to even, with
// s = 4k - 24 - E. For a normal double in IBM's range s is 29 to 32; below 16^-65 k stays at -64,
// s grows and the fraction shrinks (an unnormalised word, down to a zero of the value's sign).
// A fraction that rounds up to 2^24 becomes 2^20 with k + 1; k above 63 is beyond IBM's range,
// which, like NaN and the infinities, gives the largest IBM magnitude with the value's sign.
#ifndef IBMFLOAT_FROM_DOUBLE_WORD_H
#define IBMFLOAT_FROM_DOUBLE_WORD_H

#include <cstdint>

namespace ibmfloat {
namespace {

constexpr uint64_t kDoubleMantissaMask = (uint64_t{1} << 52) - 1u;
constexpr uint64_t kDoubleHiddenBit = uint64_t{1} << 52;
constexpr uint32_t kDoubleExponentMask = 0x7ffu;
// The field of 2^-256 = 16^-64: below it the IBM exponent field stays 0.
constexpr uint32_t kDoubleFieldSmallest = 767u;
constexpr uint32_t kIbmMagnitude = 0x7fffffffu;  // also the largest magnitude

// The word, and `no_value` all ones when the double has no IBM value (else zero). Without
// branches: selections by masks, so that loops over it vectorize.
inline uint32_t from_double_word(uint64_t d, uint32_t &no_value) {
    const uint32_t sign = static_cast<uint32_t>(d >> 32) & 0x80000000u;
    const uint32_t field = static_cast<uint32_t>(d >> 52) & kDoubleExponentMask;
    const uint32_t is_normal = 0u - static_cast<uint32_t>(field != 0);
    const uint64_t m =
        (d & kDoubleMantissaMask) | (kDoubleHiddenBit & (uint64_t{0} - (is_normal & 1u)));
    // For a normal double the leading bit is 2^(field - 1023), so the IBM exponent field
    // x = k + 64 is (field - 767) / 4 + 1 from field 767 (16^-64) up, and 0 below.
    const uint32_t low = 0u - static_cast<uint32_t>(field < kDoubleFieldSmallest);
    const uint32_t x = (((field - kDoubleFieldSmallest) >> 2) + 1u) & ~low;
    const uint32_t f1 = field | (1u & ~is_normal);
    uint32_t s = 4u * x + 795u - f1;  // 29..32 from field 767 up, more below
    s = s > 63u ? 63u : s;
    const uint64_t fraction = m >> s;
    const uint64_t rest = m & ((uint64_t{1} << s) - 1u);
    const uint64_t half = uint64_t{1} << (s - 1u);
    const uint64_t up = static_cast<uint64_t>(rest > half) |
                        (static_cast<uint64_t>(rest == half) & fraction & 1u);
    uint32_t rounded = static_cast<uint32_t>(fraction + up);  // at most 2^24
    const uint32_t carry = 0u - (rounded >> 24);
    rounded = (rounded & ~carry) | (0x00100000u & carry);
    const uint32_t exponent = x + (carry & 1u);
    // Also NaN and the infinities: their field gives x = 321.
    no_value = 0u - static_cast<uint32_t>(exponent > 127u);
    const uint32_t zero = 0u - static_cast<uint32_t>(rounded == 0);
    const uint32_t magnitude = ((exponent << 24) | rounded) & ~zero;
    return sign | ((magnitude | no_value) & kIbmMagnitude);
}

}  // namespace
}  // namespace ibmfloat

#endif
