// check_sum: the CHK2 checksum, a running sum kept within eight decimal digits.
#include "exported.h"

namespace {

constexpr int64_t kModulus = 100000000;
constexpr int64_t kLimit = kModulus - 1;

// Truncating remainder (sign of the dividend) when the magnitude exceeds eight digits.
inline int64_t reduce(int64_t v) {
    return (v > kLimit || v < -kLimit) ? v % kModulus : v;
}

}  // namespace

int check_sum(const int32_t *samples, int count, int initial) {
    if (samples == nullptr || count <= 0) {
        return initial;
    }
    // 64-bit arithmetic: no sample (-2147483648 included) and no starting value can overflow.
    // Once reduced, the sum stays within eight digits and fits the int result.
    int64_t sum = initial;
    for (int i = 0; i < count; ++i) {
        sum = reduce(sum + reduce(samples[i]));
    }
    return static_cast<int>(sum);
}
