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

// Fields 767 to 1273 (16^-64 up to 2^251): IBM's normal range, where no rounding carry can leave
// it. Checked per block by the kernels, which then take the short form below.
inline bool in_short_range(uint64_t d) {
    return ((static_cast<uint32_t>(d >> 52) & kDoubleExponentMask) - kDoubleFieldSmallest) <=
           1273u - kDoubleFieldSmallest;
}

// from_double_word for a double in the short range, in 32-bit lanes only: there s = 29 + r with
// r = 3 - (field + 1) % 4. The top 27 bits of the significand, w = m >> 26, shifted right by r
// are the fraction with three more bits to round by; every bit below them (the low 26 bits of
// the double and the r bits shifted out) only decides a tie of those three, as a sticky bit at
// the bottom. The shift by 0..3 is made of two constant shifts selected by masks, as in
// ibm_fraction, so that loops vectorize on any vector unit.
inline uint32_t from_double_short(uint64_t d) {
    const auto high = static_cast<uint32_t>(d >> 32);
    const auto low = static_cast<uint32_t>(d);
    const uint32_t field = (high >> 20) & kDoubleExponentMask;
    const uint32_t w = (((high << 6) | (low >> 26)) & 0x03ffffffu) | 0x04000000u;
    const uint32_t r = ((field + 1u) & 3u) ^ 3u;
    const uint32_t by_one = 0u - (r & 1u);
    const uint32_t by_two = 0u - ((r >> 1) & 1u);
    const uint32_t shifted_out = w & ((by_one & 1u) | (by_two & 3u) | (by_one & by_two & 4u));
    uint32_t v = (w & ~by_one) | ((w >> 1) & by_one);
    v = (v & ~by_two) | ((v >> 2) & by_two);
    v |= static_cast<uint32_t>(((low & 0x03ffffffu) | shifted_out) != 0);
    uint32_t rounded = (v + 3u + ((v >> 3) & 1u)) >> 3;
    const uint32_t carry = 0u - (rounded >> 24);
    rounded = (rounded & ~carry) | (0x00100000u & carry);
    const uint32_t exponent = ((field - kDoubleFieldSmallest) >> 2) + 1u + (carry & 1u);
    return (high & 0x80000000u) | (exponent << 24) | rounded;
}

}  // namespace
}  // namespace ibmfloat

#endif
