// The portable ieee2ibm kernel, for any architecture and byte order. Words go in blocks: a block
// of normal floats (nearly always, for real data) takes the short form; any other block takes the
// exact form for any float and counts the words without an IBM value. Both are loops without
// branches that the compiler vectorizes (SSE2 on baseline x86-64).
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

// Called on a block or the words after the last block: the count fits any integer type.
size_t count_no_value(const uint32_t *words, size_t count) {
    uint32_t found = 0;
    for (size_t j = 0; j < count; ++j) {
        found += static_cast<uint32_t>(has_no_ibm_value(words[j]));
    }
    return found;
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
            no_value += count_no_value(block, kBlock);
            for (size_t j = 0; j < kBlock; ++j) {
                block[j] = to_ibm_word(block[j]);
            }
        }
    }
    no_value += count_no_value(words + i, count - i);
    for (; i < count; ++i) {
        words[i] = to_ibm_word(words[i]);
    }
    return no_value;
}

}  // namespace ibmfloat
