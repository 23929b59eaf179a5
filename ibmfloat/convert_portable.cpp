// The portable kernel, for any architecture and byte order. Words go in blocks: each block is
// converted by the short form into a buffer aside while its exponent fields are tested against
// the always-normal range, in one loop the compiler turns into vector code (SSE2 on baseline
// x86-64); a block that passes is copied back, any other takes the exact per-word form from its
// words, which are still untouched.
#include <cstring>

#include "convert_word.h"
#include "kernels.h"

namespace ibmfloat {
namespace {

constexpr size_t kBlock = 32;

// The exponent field's distance below the always-normal range or above it: the sign bit of the
// result is set exactly when the field lies outside. Two subtractions and an or, which SSE2 has
// (its compares are signed only).
inline uint32_t outside_fast_range(uint32_t w) {
    const uint32_t below = ((w >> 24) & 0x7fu) - kFastExponentMin;
    return below | (kFastExponentSpan - below);
}

}  // namespace

void convert_portable(uint32_t *words, size_t count) {
    size_t i = 0;
    for (; count - i >= kBlock; i += kBlock) {
        uint32_t *block = words + i;
        uint32_t fast[kBlock];
        uint32_t outside = 0;
        for (size_t j = 0; j < kBlock; ++j) {
            outside |= outside_fast_range(block[j]);
            fast[j] = convert_fast(block[j]);
        }
        if ((outside & kSignBit) == 0) {
            std::memcpy(block, fast, sizeof fast);
        } else {
            for (size_t j = 0; j < kBlock; ++j) {
                block[j] = convert_word(block[j]);
            }
        }
    }
    for (; i < count; ++i) {
        words[i] = convert_word(words[i]);
    }
}

}  // namespace ibmfloat
