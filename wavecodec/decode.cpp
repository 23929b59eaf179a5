// decomp_6b_buffer: decodes one data section of six-bit code read line by line.
#include "exported.h"
#include "sixbit_code.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Only the first 80 columns of a code line count.
constexpr int kColumns = 80;
// Marks, in the per-call table, a character that ends a line's text.
constexpr int8_t kEnd = -1;

// Per-call character table: the code value of each byte (high bit ignored, so it decodes like its
// low seven bits), or kEnd for white space in the current locale and for NUL. Built at each call
// because white space depends on the locale; it makes the end test and the decoding one look-up.
struct CharTable {
    int8_t value[256];

    CharTable() {
        for (unsigned c = 0; c < 256; ++c) {
            value[c] = static_cast<int8_t>(wavecodec::kDecode.value[c & 0x7fu]);
        }
        for (unsigned c = 0; c < 128; ++c) {
            if (c == 0 || std::isspace(static_cast<int>(c))) {
                value[c] = kEnd;
            }
        }
    }
    int operator()(char c) const { return value[static_cast<unsigned char>(c)]; }
};

bool starts_with(const char *line, const char *prefix, size_t n) {
    return std::memcmp(line, prefix, n) == 0;
}

bool is_heading(const char *line) {
    return starts_with(line, "DAT2", 4) || starts_with(line, "DAT1", 4);
}

bool is_checksum_line(const char *line) {
    return starts_with(line, "CHK2 ", 5) || starts_with(line, "CHK1 ", 5);
}

enum class Next { code, checksum, end };

// Makes `line` hold the next line with code at column 0, reading a line first unless `have_line`.
// Lines whose text is empty (column 0 white space or NUL) hold no code and are passed over. Where
// a new sample is due, every line read is first tested for the checksum line.
Next next_code_line(char *line, line_reader reader, void *stream, const CharTable &chars,
                    bool new_sample, bool have_line) {
    for (;;) {
        if (!have_line && reader(line, stream) == nullptr) {
            return Next::end;
        }
        have_line = false;
        if (new_sample && is_checksum_line(line)) {
            return Next::checksum;
        }
        if (chars(line[0]) != kEnd) {
            return Next::code;
        }
    }
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

    // One blank and NULs: no heading, so the search below always reads a line first. The three
    // bytes past column 79 hold the end of a full line (end-of-line characters and NUL).
    char line[WAVECODEC_LINE_BUFFER] = " ";

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

    const CharTable chars;
    int stored = 0;
    bool have_line = true;  // the first data line is already in the buffer
    for (;;) {
        // A new sample is due and the current line is used up (or not yet looked at).
        switch (next_code_line(line, reader, stream, chars, true, have_line)) {
        case Next::end:
            report("missing input line?");
            return -1;
        case Next::checksum:
            report("CHK2 or CHK1 reached prematurely!");
            return stored;
        case Next::code:
            break;
        }
        have_line = false;

        // Decode samples while the line has text; column 0 is known to hold code.
        int column = 0;
        do {
            int d = chars(line[column]);
            uint32_t magnitude = static_cast<uint32_t>(d) & 0x0fu;
            const bool negative = (d & 0x10) != 0;
            while ((d & 0x20) != 0) {
                ++column;
                if (column >= kColumns || chars(line[column]) == kEnd) {
                    // The sample goes on in the next line that holds code.
                    if (next_code_line(line, reader, stream, chars, false, false) != Next::code) {
                        report("missing input line.");
                        return -1;
                    }
                    column = 0;
                }
                d = chars(line[column]);
                // Wraps modulo 2^32 for over-long samples, as 32-bit arithmetic does.
                magnitude = (magnitude << 5) + (static_cast<uint32_t>(d) & 0x1fu);
            }
            samples[stored] = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
            if (++stored == count) {
                return count;
            }
            ++column;
        } while (column < kColumns && chars(line[column]) != kEnd);
    }
}
