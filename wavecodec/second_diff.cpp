// diff_2nd, diff_2nd_r and rem_2nd_diff: second differences in wrapping 32-bit arithmetic,
// through the fastest kernel of each family that this CPU runs (kernels.h).
#include "exported.h"

#include "kernels.h"

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
    wavecodec::diff_family.get()(samples, static_cast<size_t>(count), g_last, g_carry);
}

int diff_2nd_r(diff_2nd_state *state, int32_t *samples, int count, int continued) {
    if (state == nullptr || (samples == nullptr && count > 0)) {
        return -1;
    }
    if (continued == 0) {
        state->second_last = 0;
        state->last = 0;
    }
    if (count <= 0) {
        return 0;
    }
    // The kernels carry the latest input and the one before it minus twice the latest.
    uint32_t last = static_cast<uint32_t>(state->last);
    uint32_t carry = static_cast<uint32_t>(state->second_last) - 2u * last;
    wavecodec::diff_family.get()(samples, static_cast<size_t>(count), last, carry);
    state->last = static_cast<int32_t>(last);
    state->second_last = static_cast<int32_t>(carry + 2u * last);
    return 0;
}

void rem_2nd_diff(int32_t *samples, int count) {
    if (samples == nullptr || count < 2) {
        return;
    }
    // Two running sums: the first turns second differences into first differences, the second
    // turns those into samples.
    uint32_t first = 0;
    uint32_t second = 0;
    wavecodec::prefix_sums_family.get()(samples, static_cast<size_t>(count), first, second);
}
