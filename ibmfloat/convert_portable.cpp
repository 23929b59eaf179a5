// The portable kernel, for any architecture and byte order. Words go in blocks: a block whose
// exponent fields all lie in the always-normal range takes the short form, in a loop the compiler
// turns into vector code (SSE2 on baseline x86-64); any other block takes the exact per-word form.
#include "convert_word.h"
#include "kernels.h"

namespace ibmfloat {
namespace {

constexpr size_t kBlock = 32;

bool block_in_fast_range(const uint32_t *block) {
    uint32_t outside = 0;
    for (size_t j = 0; j < kBlock; ++j) {
        outside |= in_fast_range(block[j]) ? 0u : 1u;
    }
    return outside == 0;
}

}  // namespace

void convert_portable(uint32_t *words, size_t count) {
    size_t i = 0;
    for (; count - i >= kBlock; i += kBlock) {
        uint32_t *block = words + i;
        if (block_in_fast_range(block)) {
            for (size_t j = 0; j < kBlock; ++j) {
                block[j] = convert_fast(block[j]);
            }
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
