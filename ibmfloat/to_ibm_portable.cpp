// The portable ieee2ibm kernel, for any architecture and byte order. Words go in blocks: a block
// of normal floats (nearly always, for real data) takes the short form, in a loop without
// branches; any other block takes the exact per-word form and counts the words without an IBM
// value.
#include "kernels.h"
#include "to_ibm_word.h"

namespace ibmfloat {
namespace {

constexpr size_t kBlock = 32;

bool block_is_normal(const uint32_t *block) {
    uint32_t outside = 0;
    for (size_t j = 0; j < kBlock; ++j) {
        outside |= ((block[j] >> 23) & kFloatExponentMask) - 1u <= 253u ? 0u : 1u;
    }
    return outside == 0;
}

// to_ibm_word for a normal float.
inline uint32_t to_ibm_normal(uint32_t f) {
    const uint32_t b = ((f >> 23) & kFloatExponentMask) + 33u;
    const uint32_t significand = (f & kFloatMantissaMask) | kFloatHiddenBit;
    return (f & kIbmSignBit) | ((25u + (b >> 2)) << 24) | ibm_fraction(significand, b & 3u);
}

}  // namespace

size_t to_ibm_portable(uint32_t *words, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    for (; count - i >= kBlock; i += kBlock) {
        uint32_t *block = words + i;
        if (block_is_normal(block)) {
            for (size_t j = 0; j < kBlock; ++j) {
                block[j] = to_ibm_normal(block[j]);
            }
        } else {
            for (size_t j = 0; j < kBlock; ++j) {
                no_value += has_no_ibm_value(block[j]) ? 1u : 0u;
                block[j] = to_ibm_word(block[j]);
            }
        }
    }
    for (; i < count; ++i) {
        no_value += has_no_ibm_value(words[i]) ? 1u : 0u;
        words[i] = to_ibm_word(words[i]);
    }
    return no_value;
}

}  // namespace ibmfloat
