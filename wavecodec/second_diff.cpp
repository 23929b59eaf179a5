// diff_2nd and rem_2nd_diff: second differences in wrapping 32-bit arithmetic.
#include "exported.h"

namespace {

// Differencing state of the series in progress (process-wide, see the header): the latest input
// sample and the sample before it minus twice the latest. A new series starts from zeros, as if
// the two samples before its first were 0.
uint32_t g_last = 0;
uint32_t g_carry = 0;

}  // namespace

void diff_2nd(int32_t *samples, int count, int continued) {
    if (continued == 0) {
        g_last = 0;
        g_carry = 0;
    }
    if (samples == nullptr || count <= 0) {
        return;
    }
    uint32_t last = g_last;
    uint32_t carry = g_carry;
    for (int i = 0; i < count; ++i) {
        const uint32_t x = static_cast<uint32_t>(samples[i]);
        samples[i] = static_cast<int32_t>(x + carry);
        carry = last - 2u * x;
        last = x;
    }
    g_last = last;
    g_carry = carry;
}

void rem_2nd_diff(int32_t *samples, int count) {
    if (samples == nullptr || count < 2) {
        return;
    }
    // Two running sums: the first turns second differences into first differences, the second
    // turns those into samples.
    uint32_t first = 0;
    uint32_t second = 0;
    for (int i = 0; i < count; ++i) {
        first += static_cast<uint32_t>(samples[i]);
        second += first;
        samples[i] = static_cast<int32_t>(second);
    }
}
