// compress_6b_chars: six-bit code of a whole array into a caller's buffer.
#include "exported.h"
#include "sixbit_code.h"

#include <cstring>

int compress_6b_chars(const int32_t *samples, int count, char *out, size_t capacity,
                      size_t *length) {
    size_t used = 0;
    int result = 0;
    if (count > 0 && (samples == nullptr || out == nullptr)) {
        result = -1;
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        if (capacity - used >= wavecodec::kMaxChars) {
            // Room for the longest sample: write in place.
            const unsigned n = wavecodec::encode_sample(samples[i], out + used);
            if (n == 0) {
                result = -1;
                break;
            }
            used += n;
            continue;
        }
        // Near the end of the buffer: encode aside and copy only what fits whole.
        char chars[wavecodec::kMaxChars];
        const unsigned n = wavecodec::encode_sample(samples[i], chars);
        if (n == 0) {
            result = -1;
            break;
        }
        if (capacity - used < n) {
            result = -2;
            break;
        }
        std::memcpy(out + used, chars, n);
        used += n;
    }
    if (length != nullptr) {
        *length = used;
    }
    return result;
}
