// decomp_6b_chars: decodes the code lines of a data section held in memory.
#include "exported.h"

#include "decode_line.h"
#include "kernels.h"

#include <cstring>

namespace {

bool is_checksum_line(const char *line, size_t available) {
    return available >= 5 &&
           (std::memcmp(line, "CHK2 ", 5) == 0 || std::memcmp(line, "CHK1 ", 5) == 0);
}

}  // namespace

int decomp_6b_chars(const char *text, size_t length, int count, int32_t *samples, size_t *used) {
    size_t consumed = 0;
    int result = 0;
    if (count > 0 && (samples == nullptr || (text == nullptr && length != 0))) {
        result = -1;
    } else if (count > 0) {
        const wavecodec::DecodeLineFn decode_line = wavecodec::decode_line_family.get();
        wavecodec::OpenSample open;
        int stored = 0;
        size_t at = 0;  // start of the current line
        // Lines too close to the text's end for the kernel's reads are copied here first; the
        // zeros after them end their text.
        char padded[wavecodec::kLineRead];
        for (;;) {
            if (at == length) {
                // Text ends where a new sample is due: the samples so far; inside one: a failure.
                consumed = length;
                result = open.open ? -1 : stored;
                break;
            }
            const char *line = text + at;
            const size_t available = length - at;
            const void *newline = std::memchr(line, '\n', available);
            const size_t next = newline != nullptr
                                    ? static_cast<size_t>(static_cast<const char *>(newline) - text) + 1
                                    : length;
            // Where a new sample is due, every line is first tested for the checksum line.
            if (!open.open && is_checksum_line(line, available)) {
                consumed = at;
                result = stored;
                break;
            }
            at = next;
            if (available < wavecodec::kLineRead) {
                std::memset(padded, 0, sizeof padded);
                std::memcpy(padded, line, available);
                line = padded;
            }
            if (wavecodec::is_empty_text(line)) {
                continue;  // no code
            }
            stored += decode_line(line, samples + stored, count - stored, open);
            if (stored == count) {
                consumed = next;
                result = count;
                break;
            }
        }
    }
    if (used != nullptr) {
        *used = consumed;
    }
    return result;
}
