// Fuzz target: read_header over an arbitrary stream, then write_header of what it read.
//
// Checks that read_header finds the first line beginning "WID2", leaves the stream just after
// it, copies the text fields from their columns with a NUL in each field's last place, and
// leaves the record alone when there is no such line; and that the line write_header prints
// reads back into a record that prints the very same line.
#include "../common/check.h"
#include "wavecodec.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A header line is taken in pieces of this many characters at most; the rest of a longer line
// is skipped.
constexpr size_t kLineChars = 119;

struct Line {
    size_t begin;  // offset of the line's first byte
    size_t end;    // offset just past its newline (or the end of input)
};

// The first line beginning "WID2", if any. Lines end at newlines; a NUL inside a line does not
// end it.
bool find_wid2(const uint8_t *data, size_t size, Line &found) {
    size_t begin = 0;
    while (begin < size) {
        const void *nl = std::memchr(data + begin, '\n', size - begin);
        const size_t end = nl ? static_cast<size_t>(static_cast<const uint8_t *>(nl) - data) + 1
                              : size;
        if (end - begin >= 4 && std::memcmp(data + begin, "WID2", 4) == 0) {
            found = {begin, end};
            return true;
        }
        begin = end;
    }
    return false;
}

// The text read_header works on: the line's first 119 characters up to any NUL, without
// end-of-line characters, NUL-padded.
std::vector<char> line_text(const uint8_t *data, const Line &line) {
    std::vector<char> text(kLineChars + 1, '\0');
    size_t n = 0;
    for (size_t i = line.begin; i < line.end && n < kLineChars; ++i, ++n) {
        if (data[i] == '\0' || data[i] == '\n') {
            break;
        }
        text[n] = static_cast<char>(data[i]);
    }
    while (n > 0 && text[n - 1] == '\r') {
        text[--n] = '\0';
    }
    return text;
}

template <size_t N>
void check_field(const char (&field)[N], const std::vector<char> &text, size_t offset,
                 const char *name) {
    FUZZ_CHECK(field[N - 1] == '\0', "%s has no NUL in its last place", name);
    FUZZ_CHECK(std::memcmp(field, text.data() + offset, N - 1) == 0,
               "%s differs from columns %zu-%zu of the line", name, offset + 1, offset + N - 1);
}

// Prints `header` into `out` (which must be large enough) and returns write_header's result.
int print(const wid2_header &header, char *out, size_t capacity) {
    FILE *stream = fmemopen(out, capacity, "w");
    FUZZ_CHECK(stream != nullptr, "fmemopen for writing failed");
    const int n = write_header(stream, &header);
    std::fclose(stream);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    FILE *stream = fmemopen(copy.data(), size, "r");
    FUZZ_CHECK(stream != nullptr, "fmemopen failed for %zu bytes", size);

    wid2_header header;
    std::memset(&header, 0x7b, sizeof header);  // no NULs: a missing terminator shows
    const wid2_header before = header;
    const int result = read_header(stream, &header);
    const long position = std::ftell(stream);
    std::fclose(stream);

    Line line{};
    if (!find_wid2(data, size, line)) {
        FUZZ_CHECK(result == -1, "read_header gave %d without a WID2 line", result);
        FUZZ_CHECK(std::memcmp(&header, &before, sizeof header) == 0,
                   "read_header changed the record without a WID2 line");
        return 0;
    }
    FUZZ_CHECK(result == 0, "read_header gave %d for a WID2 line at offset %zu", result,
               line.begin);
    FUZZ_CHECK(position == static_cast<long>(line.end),
               "stream left at %ld, the WID2 line ends at %zu", position, line.end);

    const std::vector<char> text = line_text(data, line);
    check_field(header.station, text, 29, "station");
    check_field(header.channel, text, 35, "channel");
    check_field(header.aux_id, text, 39, "aux_id");
    check_field(header.data_format, text, 44, "data_format");
    check_field(header.instrument_type, text, 88, "instrument_type");

    // Print what was read; a line whose fields all fit their widths is 105 characters and a
    // newline, and must read back into a record that prints identically.
    char first[512];
    const int n = print(header, first, sizeof first);
    FUZZ_CHECK(n > 0 && static_cast<size_t>(n) < sizeof first, "write_header gave %d", n);
    FUZZ_CHECK(first[n - 1] == '\n' && std::memcmp(first, "WID2 ", 5) == 0,
               "write_header printed no WID2 line");
    if (n != 106) {
        return 0;
    }
    FILE *back = fmemopen(first, static_cast<size_t>(n), "r");
    FUZZ_CHECK(back != nullptr, "fmemopen failed");
    wid2_header reread = before;
    const int reread_result = read_header(back, &reread);
    std::fclose(back);
    FUZZ_CHECK(reread_result == 0, "the printed line did not read back: %.*s", n, first);
    char second[512];
    const int m = print(reread, second, sizeof second);
    FUZZ_CHECK(m == n && std::memcmp(first, second, static_cast<size_t>(n)) == 0,
               "printed line does not read back the same:\n  %.*s  %.*s", n, first, m, second);
    return 0;
}
