// encode_block: the six-bit code of up to one block of samples through the fastest block
// encoder this CPU runs, and the portable one, sample by sample with the branch-free encoder.
#include "kernels.h"
#include "sixbit_code.h"

namespace wavecodec {

size_t encode_block_portable(const int32_t *samples, int count, char *out) {
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        used += encode_sample_wide(samples[i], out + used);
    }
    return used;
}

size_t encode_block(const int32_t *samples, int count, char *out) {
    return encode_block_family.get()(samples, count, out);
}

}  // namespace wavecodec
