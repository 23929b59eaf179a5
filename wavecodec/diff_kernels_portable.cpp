// Second differences and their restoration in plain C++: the differences in blocks whose loops
// the compiler vectorizes for the baseline instruction set, the running sums one by one.
#include <cstring>

#include "kernels.h"

namespace wavecodec {
namespace {

// Samples differenced per block: the block's outputs are built aside, from inputs not yet
// overwritten, then stored.
constexpr size_t kDiffBlock = 64;

inline uint32_t u(int32_t v) {
    return static_cast<uint32_t>(v);
}

void diff_block(int32_t *x, uint32_t &last, uint32_t &carry) {
    uint32_t out[kDiffBlock];
    out[0] = u(x[0]) + carry;
    out[1] = u(x[1]) + last - 2u * u(x[0]);
    for (size_t j = 2; j < kDiffBlock; ++j) {
        out[j] = u(x[j]) + u(x[j - 2]) - 2u * u(x[j - 1]);
    }
    last = u(x[kDiffBlock - 1]);
    carry = u(x[kDiffBlock - 2]) - 2u * last;
    std::memcpy(x, out, sizeof out);
}

}  // namespace

void diff_portable(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry) {
    size_t i = 0;
    for (; count - i >= kDiffBlock; i += kDiffBlock) {
        diff_block(samples + i, last, carry);
    }
    for (; i < count; ++i) {
        const uint32_t x = u(samples[i]);
        samples[i] = static_cast<int32_t>(x + carry);
        carry = last - 2u * x;
        last = x;
    }
}

void prefix_sums_portable(int32_t *samples, size_t count, uint32_t &first, uint32_t &second) {
    uint32_t f = first;
    uint32_t s = second;
    for (size_t i = 0; i < count; ++i) {
        f += u(samples[i]);
        s += f;
        samples[i] = static_cast<int32_t>(s);
    }
    first = f;
    second = s;
}

}  // namespace wavecodec
