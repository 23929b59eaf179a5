// The double2ibm loop over blocks, shared by its kernels: each includes it and calls
// convert_blocks from a function compiled for its own instruction set (the functions here are
// always inlined, so the compiler vectorizes them for the caller's target). A block wholly in
// IBM's normal range (nearly always, for real data) takes the short form in 32-bit lanes; any
// other block, and the doubles after the last block, take the exact form for any double and count
// the doubles without an IBM value. Both are loops without branches.
#ifndef IBMFLOAT_FROM_DOUBLE_BLOCKS_H
#define IBMFLOAT_FROM_DOUBLE_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "from_double_word.h"

namespace ibmfloat {
namespace {

constexpr size_t kFromDoubleBlock = 32;

#define IBMFLOAT_INLINE inline __attribute__((always_inline))

IBMFLOAT_INLINE uint64_t double_bits(const double *in, size_t i) {
    uint64_t bits = 0;
    std::memcpy(&bits, &in[i], sizeof bits);
    return bits;
}

IBMFLOAT_INLINE bool block_is_short(const double *block) {
    uint32_t outside = 0;
    for (size_t j = 0; j < kFromDoubleBlock; ++j) {
        outside |= in_short_range(double_bits(block, j)) ? 0u : 1u;
    }
    return outside == 0;
}

// The arrays do not overlap (the public contract); the compiler is told so, so that it
// vectorizes without checking.
IBMFLOAT_INLINE void convert_short_block(const double *__restrict in, uint32_t *__restrict out) {
    for (size_t j = 0; j < kFromDoubleBlock; ++j) {
        out[j] = from_double_short(double_bits(in, j));
    }
}

IBMFLOAT_INLINE size_t convert_exact(const double *__restrict in, uint32_t *__restrict out,
                                     size_t count) {
    uint32_t no_value = 0;  // count is at most a block
    for (size_t i = 0; i < count; ++i) {
        uint32_t none = 0;
        out[i] = from_double_word(double_bits(in, i), none);
        no_value += none & 1u;
    }
    return no_value;
}

IBMFLOAT_INLINE size_t convert_blocks(const double *in, uint32_t *out, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    for (; count - i >= kFromDoubleBlock; i += kFromDoubleBlock) {
        if (block_is_short(in + i)) {
            convert_short_block(in + i, out + i);
        } else {
            no_value += convert_exact(in + i, out + i, kFromDoubleBlock);
        }
    }
    // Fewer than a block.
    return no_value + convert_exact(in + i, out + i, count - i);
}

#undef IBMFLOAT_INLINE

}  // namespace
}  // namespace ibmfloat

#endif
