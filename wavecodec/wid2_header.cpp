// read_header and write_header: the WID2 line of a waveform on a stdio stream.
#include "exported.h"

#include <locale.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

static_assert(sizeof(float) == 4, "wid2_header needs 32-bit floats");
static_assert(offsetof(wid2_header, second) == 20);
static_assert(offsetof(wid2_header, station) == 24);
static_assert(offsetof(wid2_header, channel) == 30);
static_assert(offsetof(wid2_header, aux_id) == 34);
static_assert(offsetof(wid2_header, data_format) == 39);
static_assert(offsetof(wid2_header, sample_count) == 44);
static_assert(offsetof(wid2_header, calibration_period) == 56);
static_assert(offsetof(wid2_header, instrument_type) == 60);
static_assert(offsetof(wid2_header, horizontal_angle) == 68);
static_assert(sizeof(wid2_header) == 76);

namespace {

// A line is read 119 characters at a time; a WID2 line has 105.
constexpr int kLineBuffer = 120;

// Reads one whole line: its first 119 characters go to `line`, NUL-padded to the end of the
// buffer and without the end-of-line characters; the rest of a longer line is read and dropped,
// so every read starts at the beginning of a line. Returns false at the end of the stream.
bool read_line(FILE *stream, char (&line)[kLineBuffer]) {
    // fgets reports no length, and a NUL byte read from the stream hides the end from strlen.
    // With the buffer filled with non-NULs first, the last NUL in it is the one fgets appended.
    std::memset(line, '\n', kLineBuffer);
    if (std::fgets(line, kLineBuffer, stream) == nullptr) {
        return false;
    }
    size_t stored = kLineBuffer - 1;
    while (line[stored] != '\0') {
        --stored;
    }
    const bool whole = stored > 0 && line[stored - 1] == '\n';
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        --length;
    }
    std::memset(line + length, 0, kLineBuffer - length);
    if (!whole) {
        int c;
        do {
            c = std::fgetc(stream);
        } while (c != '\n' && c != EOF);
    }
    return true;
}

// Copies a fixed-width text field: exactly the line's columns (the line is NUL-padded, so
// columns past its end become NULs) and the NUL in the field's last place.
template <size_t N>
void copy_field(char (&field)[N], const char (&line)[kLineBuffer], size_t offset) {
    static_assert(N >= 2);
    std::memcpy(field, line + offset, N - 1);
    field[N - 1] = '\0';
}

// Makes the calling thread use the C locale until the end of the scope, so that the line is read
// and printed with "." decimals whatever locale the host has set; the host's locale (global or
// per thread) is restored afterwards and never changes for other threads. glibc hands out its
// built-in C locale object for this request, so nothing is allocated. Should the locale not be
// had, the thread's own locale stays in use.
class CLocaleScope {
public:
    CLocaleScope()
        : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))),
          previous_(c_ != nullptr ? uselocale(c_) : nullptr) {}
    ~CLocaleScope() {
        if (c_ != nullptr) {
            uselocale(previous_);
            freelocale(c_);
        }
    }
    CLocaleScope(const CLocaleScope &) = delete;
    CLocaleScope &operator=(const CLocaleScope &) = delete;

private:
    locale_t c_;
    locale_t previous_;
};

// The columns of a numeric field.
struct Columns {
    size_t offset;
    size_t width;
};

// The numeric fields of each scan, in scan order: the date and time, then the numbers after the
// text fields.
constexpr Columns kTimeFields[] = {{5, 4}, {10, 2}, {13, 2}, {16, 2}, {19, 2}, {22, 6}};
constexpr Columns kValueFields[] = {{48, 8}, {57, 11}, {69, 10}, {80, 7}, {95, 5}, {101, 4}};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\0';
}

// The line as one scan should see it: cut at its first numeric field whose columns are all blank
// (or NUL), so that that field and the scan's later ones do not convert and keep the record's
// values (a width-limited conversion would skip the blanks and take the next field's digits).
// A line whose fields are all present is left whole.
template <size_t N>
void cut_at_blank_field(char (&scan)[kLineBuffer], const char (&line)[kLineBuffer],
                        const Columns (&fields)[N]) {
    std::memcpy(scan, line, kLineBuffer);
    for (const Columns &f : fields) {
        bool blank = true;
        for (size_t i = f.offset; i < f.offset + f.width; ++i) {
            blank = blank && is_blank(line[i]);
        }
        if (blank) {
            scan[f.offset] = '\0';
            return;
        }
    }
}

}  // namespace

int read_header(FILE *stream, wid2_header *header) {
    if (stream == nullptr || header == nullptr) {
        return -1;
    }
    char line[kLineBuffer];
    do {
        if (!read_line(stream, line)) {
            return -1;
        }
    } while (std::strncmp(line, "WID2", 4) != 0);

    const CLocaleScope c_locale;
    char scan[kLineBuffer];
    // Date and time. Fields that do not convert keep their previous values.
    cut_at_blank_field(scan, line, kTimeFields);
    std::sscanf(scan, "%*s%4d%*1c%2d%*1c%2d%*1c%2d%*1c%2d%*1c%6f", &header->year,
                &header->month, &header->day, &header->hour, &header->minute, &header->second);

    copy_field(header->station, line, 29);
    copy_field(header->channel, line, 35);
    copy_field(header->aux_id, line, 39);
    copy_field(header->data_format, line, 44);
    copy_field(header->instrument_type, line, 88);

    cut_at_blank_field(scan, line, kValueFields);
    std::sscanf(scan, "%*48c%8d%*1c%11f%*1c%10f%*1c%7f%*8c%5f%*1c%4f", &header->sample_count,
                &header->sample_rate, &header->calibration, &header->calibration_period,
                &header->horizontal_angle, &header->vertical_angle);
    return 0;
}

int write_header(FILE *stream, const wid2_header *header) {
    if (stream == nullptr || header == nullptr) {
        return -1;
    }
    const CLocaleScope c_locale;
    // Text fields are printed to at most their widths, so a field without its NUL is never read
    // past its end.
    return std::fprintf(stream,
                        "WID2 %4d/%02d/%02d %02d:%02d:%06.3f %-5.5s %-3.3s %-4.4s %-3.3s %8d "
                        "%11.6f %10.4e %7.3f %-6.6s %5.1f %4.1f\n",
                        header->year, header->month, header->day, header->hour, header->minute,
                        static_cast<double>(header->second), header->station, header->channel,
                        header->aux_id, header->data_format, header->sample_count,
                        static_cast<double>(header->sample_rate),
                        static_cast<double>(header->calibration),
                        static_cast<double>(header->calibration_period), header->instrument_type,
                        static_cast<double>(header->horizontal_angle),
                        static_cast<double>(header->vertical_angle));
}
