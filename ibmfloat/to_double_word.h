// One IBM single to the double of exactly its value. Internal linkage, so that each kernel file
// gets its own copy compiled for its own instruction set.
//
// The value is f * 2^(4e - 280) with a fraction f < 2^24: f converts to a double exactly, and
// scaling by 2^(4e - 280) only moves the double's exponent field. Its biased exponent is then
// 1023 + (bit length of f - 1) + 4e - 280, from 743 to 1274: always a normal double, so the
// scaling never overflows or underflows.
#ifndef IBMFLOAT_TO_DOUBLE_WORD_H
#define IBMFLOAT_TO_DOUBLE_WORD_H

#include <bit>
#include <cstdint>

namespace ibmfloat {
namespace {

inline uint64_t to_double_bits(uint32_t w) {
    const uint32_t fraction = w & 0x00ffffffu;
    const uint64_t as_double =
        std::bit_cast<uint64_t>(static_cast<double>(static_cast<int32_t>(fraction)));
    // (4e - 280) << 52, wrapping: adding it moves the exponent field down or up.
    const uint64_t scale = (uint64_t{(w >> 24) & 0x7fu} << 54) - (uint64_t{280} << 52);
    // A zero fraction converts to 0.0, which must stay zero: add the scale only to non-zero ones.
    const uint64_t nonzero = 0u - static_cast<uint64_t>(fraction != 0);
    return (uint64_t{w & 0x80000000u} << 32) | (as_double + (scale & nonzero));
}

}  // namespace
}  // namespace ibmfloat

#endif
