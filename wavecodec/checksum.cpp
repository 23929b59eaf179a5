// check_sum: the CHK2 checksum, a running sum kept within eight decimal digits.
#include "exported.h"

namespace {

constexpr int64_t kModulus = 100000000;
constexpr int64_t kLimit = kModulus - 1;
// Samples summed at once where no reduction can occur.
constexpr int kBlock = 64;
constexpr int kMaxBackoff = 16;

// Truncating remainder (sign of the dividend) when the magnitude exceeds eight digits.
inline int64_t reduce(int64_t v) {
    return (v > kLimit || v < -kLimit) ? v % kModulus : v;
}

// The first step: the starting value may be any int.
inline int64_t add_first(int initial, int32_t sample) {
    return reduce(static_cast<int64_t>(initial) + reduce(sample));
}

// The sum is path dependent: each step may reduce it, so one step at a time. With |sum| and
// every reduced sample within eight digits, 32 bits hold each step (cheaper remainders).
inline int64_t add_each(int64_t sum64, const int32_t *samples, int count) {
    constexpr int32_t modulus = static_cast<int32_t>(kModulus);
    constexpr int32_t limit = static_cast<int32_t>(kLimit);
    int32_t sum = static_cast<int32_t>(sum64);
    for (int i = 0; i < count; ++i) {
        int32_t v = samples[i];
        if (v > limit || v < -limit) {
            v %= modulus;
        }
        sum += v;
        if (sum > limit || sum < -limit) {
            sum %= modulus;
        }
    }
    return sum;
}

// Adds a block of kBlock samples at once when that gives the same result as adding them one at a
// time: when |sum| plus kBlock times the largest magnitude stays within eight digits, no sample
// and no partial sum needs reducing. Returns false, leaving `sum` alone, when that is not sure.
inline bool add_block(int64_t &sum, const int32_t *samples) {
    // x ^ (x >> 31) is |x| for x >= 0 and |x| - 1 for x < 0; OR-ing them bounds the largest
    // magnitude from above (less one) with no compare, and the loop vectorizes.
    uint32_t bits = 0;
    uint32_t block_sum = 0;
    for (int i = 0; i < kBlock; ++i) {
        const int32_t x = samples[i];
        bits |= static_cast<uint32_t>(x ^ (x >> 31));
        block_sum += static_cast<uint32_t>(x);
    }
    const int64_t magnitude = sum < 0 ? -sum : sum;
    if ((static_cast<int64_t>(bits) + 1) * kBlock > kLimit - magnitude) {
        return false;
    }
    // Here every |x| < 2^31 / kBlock, so the wrapped 32-bit sum is the exact one.
    sum += static_cast<int32_t>(block_sum);
    return true;
}

}  // namespace

int check_sum(const int32_t *samples, int count, int initial) {
    if (samples == nullptr || count <= 0) {
        return initial;
    }
    // The first step in 64 bits: no starting value and no sample (-2147483648 included) can
    // overflow it. After it the sum stays within eight digits.
    int64_t sum = add_first(initial, samples[0]);
    int i = 1;
    // Blocks to add one sample at a time before trying a whole block again: doubles after each
    // block that could not be added at once (up to kMaxBackoff), so data that keeps reducing
    // costs little more than the plain loop; back to 0 after one that could.
    int backoff = 0;
    while (count - i >= kBlock) {
        if (add_block(sum, samples + i)) {
            backoff = 0;
            i += kBlock;
            continue;
        }
        backoff = backoff == 0 ? 1 : (backoff < kMaxBackoff ? 2 * backoff : kMaxBackoff);
        const int n = count - i < backoff * kBlock ? count - i : backoff * kBlock;
        sum = add_each(sum, samples + i, n);
        i += n;
    }
    sum = add_each(sum, samples + i, count - i);
    return static_cast<int>(sum);
}
