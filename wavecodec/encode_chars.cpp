// compress_6b_chars: six-bit code of a whole array into a caller's buffer.
#include "exported.h"
#include "sixbit_code.h"

#include <cstring>

namespace {

// Sample by sample, writing exactly the characters of whole samples that fit. Returns 0, -1 at
// -2147483648 or -2 when `out` is full.
int encode_exact(const int32_t *samples, int count, char *out, size_t capacity, size_t &used) {
    for (int i = 0; i < count; ++i) {
        char chars[wavecodec::kMaxChars];
        const unsigned n = wavecodec::encode_sample(samples[i], chars);
        if (n == 0) {
            return -1;
        }
        if (capacity - used < n) {
            return -2;
        }
        std::memcpy(out + used, chars, n);
        used += n;
    }
    return 0;
}

}  // namespace

int compress_6b_chars(const int32_t *samples, int count, char *out, size_t capacity,
                      size_t *length) {
    size_t used = 0;
    int result = 0;
    if (count > 0 && (samples == nullptr || out == nullptr)) {
        result = -1;
        count = 0;
    }
    // Blocks are encoded aside and copied when they fit whole, so nothing is ever written past
    // the characters reported. A block that holds -2147483648 or does not fit goes sample by
    // sample, which stops where the sample-wise encoder does.
    char block[wavecodec::kBlockBuffer];
    // i advances by the block's size, never past count (no overflow near INT_MAX).
    for (int i = 0, n = 0; i < count && result == 0; i += n) {
        n = count - i < wavecodec::kBlock ? count - i : wavecodec::kBlock;
        if (!wavecodec::has_unencodable(samples + i, n)) {
            const size_t size = wavecodec::encode_block(samples + i, n, block);
            if (size <= capacity - used) {
                std::memcpy(out + used, block, size);
                used += size;
                continue;
            }
        }
        result = encode_exact(samples + i, n, out, capacity, used);
    }
    if (length != nullptr) {
        *length = used;
    }
    return result;
}
