// compress_6b_buffer: six-bit code, one writer call per character.
#include "exported.h"
#include "sixbit_code.h"

int compress_6b_buffer(const int32_t *samples, int count, char_writer writer) {
    if (count <= 0) {
        return 0;
    }
    if (samples == nullptr || writer == nullptr) {
        return -1;
    }
    char chars[wavecodec::kMaxChars];
    for (int i = 0; i < count; ++i) {
        const unsigned n = wavecodec::encode_sample(samples[i], chars);
        if (n == 0) {
            return -1;
        }
        for (unsigned j = 0; j < n; ++j) {
            writer(chars[j]);
        }
    }
    return 0;
}
