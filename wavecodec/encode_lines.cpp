// compress_6b_lines: six-bit code of a whole array laid out in lines of a fixed width, with the
// count of clamped samples, into a caller's buffer.
#include "exported.h"
#include "sixbit_code.h"

#include <cstring>

namespace {

// Where the characters go: the buffer, its size, the bytes used and the column of the open line.
struct Lines {
    char *out;
    size_t capacity;
    size_t used;
    size_t width;
    size_t column;

    // Bytes that `n` more characters take, line ends included.
    size_t room_for(size_t n) const {
        return n + (column + n) / width;
    }

    // Copies `n` characters, ending each line as it fills; the caller has checked the room.
    void put(const char *chars, size_t n) {
        while (n > 0) {
            const size_t take = n < width - column ? n : width - column;
            std::memcpy(out + used, chars, take);
            used += take;
            column += take;
            chars += take;
            n -= take;
            if (column == width) {
                out[used++] = '\n';
                column = 0;
            }
        }
    }
};

// Sample by sample, writing exactly the whole samples that fit. Returns 0, -1 at -2147483648 or
// -2 when `out` is full.
int put_exact(const int32_t *samples, int count, Lines &lines, int &clamped) {
    for (int i = 0; i < count; ++i) {
        char chars[wavecodec::kMaxChars];
        const unsigned n = wavecodec::encode_sample(samples[i], chars);
        if (n == 0) {
            return -1;
        }
        if (lines.capacity - lines.used < lines.room_for(n)) {
            return -2;
        }
        lines.put(chars, n);
        clamped += wavecodec::count_clamped(samples + i, 1);
    }
    return 0;
}

}  // namespace

int compress_6b_lines(const int32_t *samples, int count, int line_width, int *column, char *out,
                      size_t capacity, size_t *length, int *clamped) {
    Lines lines{out, capacity, 0, line_width > 0 ? static_cast<size_t>(line_width) : 1, 0};
    int clamps = 0;
    int result = 0;
    if (line_width < 1 || (column != nullptr && (*column < 0 || *column >= line_width))) {
        result = -3;
        count = 0;
    } else if (count > 0 && (samples == nullptr || out == nullptr)) {
        result = -1;
        count = 0;
    }
    const bool arguments_refused = result != 0;
    if (result == 0 && column != nullptr) {
        lines.column = static_cast<size_t>(*column);
    }
    // As in compress_6b_chars: blocks are encoded aside by the block encoder and copied when they
    // fit whole with their line ends; a block that holds -2147483648 or does not fit goes sample
    // by sample, which stops where the sample-wise encoder does.
    char block[wavecodec::kBlockBuffer];
    for (int i = 0, n = 0; i < count && result == 0; i += n) {
        n = count - i < wavecodec::kBlock ? count - i : wavecodec::kBlock;
        if (!wavecodec::has_unencodable(samples + i, n)) {
            const size_t size = wavecodec::encode_block(samples + i, n, block);
            if (lines.room_for(size) <= lines.capacity - lines.used) {
                lines.put(block, size);
                clamps += wavecodec::count_clamped(samples + i, n);
                continue;
            }
        }
        result = put_exact(samples + i, n, lines, clamps);
    }
    // Whole lines only when the caller keeps no open line: the last one is ended too.
    if (result == 0 && column == nullptr && lines.column > 0) {
        if (lines.used < lines.capacity) {
            out[lines.used++] = '\n';
        } else {
            result = -2;
        }
    }
    // An argument error (-3, or -1 before anything was written) leaves the open line as it was.
    if (!arguments_refused && column != nullptr) {
        *column = static_cast<int>(lines.column);
    }
    if (length != nullptr) {
        *length = lines.used;
    }
    if (clamped != nullptr) {
        *clamped = clamps;
    }
    return result;
}
