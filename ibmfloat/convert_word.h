// One word at a time: the exact conversion for any word, and the short form valid for exponent
// fields 39..96, where the result is always a normal float. Internal linkage, so that each kernel
// file gets its own copy compiled for its own instruction set.
#ifndef IBMFLOAT_CONVERT_WORD_H
#define IBMFLOAT_CONVERT_WORD_H

#include <bit>
#include <cstdint>

namespace ibmfloat {
namespace {

constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kFractionMask = 0x00ffffffu;
constexpr uint32_t kInfinity = 0x7f800000u;

// Exponent fields whose every non-zero fraction gives a normal float: value = f * 2^(4e - 280)
// with f in [1, 2^24), so the float's biased exponent is 4e - 153 + (bit length of f - 1), which
// lies in 1..254 exactly when e is in 39..96.
constexpr uint32_t kFastExponentMin = 39;
constexpr uint32_t kFastExponentSpan = 96 - 39;

inline bool in_fast_range(uint32_t w) {
    return ((w >> 24) & 0x7fu) - kFastExponentMin <= kFastExponentSpan;
}

// Exact for exponent fields 39..96. The fraction converts to float without rounding (it has at
// most 24 bits); scaling by 2^(4e - 280) then only moves the float's exponent field.
inline uint32_t convert_fast(uint32_t w) {
    const uint32_t fraction = w & kFractionMask;
    const uint32_t as_float =
        std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(fraction)));
    const uint32_t scale =
        (((w >> 24) & 0x7fu) << 25) - (280u << 23);  // (4e - 280) << 23, wrapping
    // A zero fraction converts to 0.0, which must stay zero: add the scale only to non-zero ones.
    const uint32_t nonzero = 0u - static_cast<uint32_t>(fraction != 0);
    return (w & kSignBit) | (as_float + (scale & nonzero));
}

// Exact for every word: rounded once to nearest, ties to even, subnormals included.
inline uint32_t convert_word(uint32_t w) {
    const uint32_t sign = w & kSignBit;
    const uint32_t fraction = w & kFractionMask;
    if (fraction == 0) {
        return sign;
    }
    // Normalise so that bit 23 is set; value = m * 2^(biased - 150).
    const int lz = std::countl_zero(fraction) - 8;
    const uint32_t m = fraction << lz;
    const int exponent = static_cast<int>((w >> 24) & 0x7fu);
    const int biased = 4 * exponent - 130 - lz;
    if (biased >= 255) {
        return sign | kInfinity;
    }
    if (biased >= 1) {
        return sign | (static_cast<uint32_t>(biased) << 23) | (m & 0x007fffffu);
    }
    // Subnormal or zero: shift right by 1 - biased, rounding to nearest, ties to even. A carry
    // out of the top gives the next power of two, as it should.
    const int shift = 1 - biased;
    if (shift > 24) {
        return sign;
    }
    const uint32_t kept = m >> shift;
    const uint32_t dropped = m & ((1u << shift) - 1u);
    const uint32_t half = 1u << (shift - 1);
    const uint32_t round_up = (dropped > half || (dropped == half && (kept & 1u) != 0)) ? 1u : 0u;
    return sign | (kept + round_up);
}

}  // namespace
}  // namespace ibmfloat

#endif
