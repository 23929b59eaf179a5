// compress_6b_buffer: six-bit code, one writer call per character.
#include "exported.h"
#include "sixbit_code.h"

namespace {

// Samples encoded per step between writer calls.
constexpr int kStep = 8;

}  // namespace

int compress_6b_buffer(const int32_t *samples, int count, char_writer writer) {
    if (count <= 0) {
        return 0;
    }
    if (samples == nullptr || writer == nullptr) {
        return -1;
    }
    // Blocks are encoded aside, then handed over a character at a time; a block holding
    // -2147483648 goes sample by sample so that the characters before it are written.
    char block[wavecodec::kBlockBuffer];
    // i advances by the block's size, never past count (no overflow near INT_MAX).
    for (int i = 0, n = 0; i < count; i += n) {
        n = count - i < wavecodec::kBlock ? count - i : wavecodec::kBlock;
        if (!wavecodec::has_unencodable(samples + i, n)) {
            // Eight samples at a time: the writer calls wait on each other (the writer's own
            // state passes through memory), and the encoding of the next eight, within reach of
            // the processor's reordering, runs in their shadow.
            for (int k = 0; k < n; k += kStep) {
                const size_t length = wavecodec::encode_block(
                    samples + i + k, n - k < kStep ? n - k : kStep, block);
                for (size_t j = 0; j < length; ++j) {
                    writer(block[j]);
                }
            }
            continue;
        }
        for (int k = i; k < i + n; ++k) {
            const unsigned length = wavecodec::encode_sample(samples[k], block);
            if (length == 0) {
                return -1;
            }
            for (unsigned j = 0; j < length; ++j) {
                writer(block[j]);
            }
        }
    }
    return 0;
}
