// decomp_6b_buffer: decodes one data section of six-bit code read line by line.
#include "exported.h"

#include "decode_line.h"
#include "kernels.h"

#include <cstdio>
#include <cstring>

namespace {

using wavecodec::is_empty_text;

bool starts_with(const char *line, const char *prefix, size_t n) {
    return std::memcmp(line, prefix, n) == 0;
}

bool is_heading(const char *line) {
    return starts_with(line, "DAT2", 4) || starts_with(line, "DAT1", 4);
}

bool is_checksum_line(const char *line) {
    return starts_with(line, "CHK2 ", 5) || starts_with(line, "CHK1 ", 5);
}

void report(const char *message) {
    std::fputs("decomp_6b: ", stdout);
    std::puts(message);
    // The host may interleave its own output: show the line now, not when stdout is flushed.
    std::fflush(stdout);
}

}  // namespace

int decomp_6b_buffer(int count, int32_t *samples, line_reader reader, void *stream) {
    if (count == 0) {
        report("no action.");
        return 0;
    }
    if (reader == nullptr || (count > 0 && samples == nullptr)) {
        return -1;
    }

    // One blank and NULs: no heading, so the search below always reads a line first. The reader
    // fills at most WAVECODEC_LINE_BUFFER bytes; past column 79 they hold the end of a full line
    // (end-of-line characters and NUL).
    char line[wavecodec::kLineRead] = " ";

    while (!is_heading(line)) {
        if (reader(line, stream) == nullptr) {
            report("Neither DAT2 or DAT1 found!");
            return -1;
        }
    }
    if (reader(line, stream) == nullptr) {
        report("Whoops! No data after DAT2 or DAT1.");
        return -1;
    }
    if (count < 0) {
        return 0;
    }

    // Line by line, each line's text through the line kernel; the kernel reads kLineRead bytes
    // of the buffer, so it is longer than what the reader fills, and zeroed once.
    static_assert(wavecodec::kLineRead >= WAVECODEC_LINE_BUFFER);
    const wavecodec::DecodeLineFn decode_line = wavecodec::decode_line_family.get();
    wavecodec::OpenSample open;
    int stored = 0;
    bool have_line = true;  // the first data line is already in the buffer
    for (;;) {
        if (!have_line && reader(line, stream) == nullptr) {
            report(open.open ? "missing input line." : "missing input line?");
            return -1;
        }
        have_line = false;
        // Where a new sample is due, every line is first tested for the checksum line.
        if (!open.open && is_checksum_line(line)) {
            report("CHK2 or CHK1 reached prematurely!");
            return stored;
        }
        if (is_empty_text(line)) {
            continue;  // no code
        }
        stored += decode_line(line, samples + stored, count - stored, open);
        if (stored == count) {
            return count;
        }
    }
}
