// diff_2nd and rem_2nd_diff: second differences in wrapping 32-bit arithmetic, through the
// fastest kernel of each family that this CPU runs (kernels.h).
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
