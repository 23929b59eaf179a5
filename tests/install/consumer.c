/* A consumer of the installed libraries: includes both public headers and runs the whole road of
 * a waveform (differences, with the library's state and with the caller's, six-bit code,
 * decoding, checksum, header line) and one IBM float conversion, exiting non-zero at the first
 * wrong result. */
#define _POSIX_C_SOURCE 200809L /* fmemopen */

#include <ibmfloat.h>
#include <wavecodec.h>

#include <stdio.h>
#include <string.h>

#define COUNT 6

static char text[256];
static size_t text_length;

static int append(int c) {
    if (text_length + 1 < sizeof text) {
        text[text_length++] = (char)c;
    }
    return c;
}

/* Line reader over a NUL-terminated string: `stream` points to the current position. */
static char *next_line(char *buffer, void *stream) {
    const char **at = (const char **)stream;
    size_t n = 0;
    if (**at == '\0') {
        return NULL;
    }
    while ((*at)[n] != '\0' && n < WAVECODEC_LINE_BUFFER - 1) {
        if ((*at)[n++] == '\n') {
            break;
        }
    }
    memcpy(buffer, *at, n);
    buffer[n] = '\0';
    *at += n;
    return buffer;
}

static int fail(const char *what) {
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int main(void) {
    const int32_t series[COUNT] = {10, 12, 15, 19, 24, 30};
    int32_t work[COUNT];
    int32_t decoded[COUNT];
    char section[512];
    const char *cursor = section;
    char line[200];
    wid2_header header;
    uint32_t word = 0xC276A000u; /* -118.625 */
    float value;
    double exact = 0.0;
    const double wide = 1.0 + 0x1p-21 + 0x1p-40;
    uint32_t from_double = 0;
    FILE *stream;

    memcpy(work, series, sizeof work);
    diff_2nd(work, COUNT, 0);
    {
        /* The same differences with a state of the consumer's own, in two calls. */
        int32_t again[COUNT];
        diff_2nd_state state;
        memcpy(again, series, sizeof again);
        if (diff_2nd_r(&state, again, 4, 0) != 0 ||
            diff_2nd_r(&state, again + 4, COUNT - 4, 1) != 0 ||
            memcmp(again, work, sizeof work) != 0 || state.last != series[COUNT - 1] ||
            state.second_last != series[COUNT - 2]) {
            return fail("diff_2nd_r did not give diff_2nd's differences");
        }
    }
    if (compress_6b_buffer(work, COUNT, append) != 0) {
        return fail("compress_6b_buffer failed");
    }
    text[text_length] = '\0';
    {
        /* The same characters in lines of four, each ended by a LF, the last one too. */
        char lines[64];
        char expected[64];
        size_t lines_length = 0;
        size_t at = 0;
        size_t k = 0;
        int clamped = -1;
        for (at = 0; at < text_length; ++at) {
            expected[k++] = text[at];
            if ((at + 1) % 4 == 0 || at + 1 == text_length) {
                expected[k++] = '\n';
            }
        }
        if (compress_6b_lines(work, COUNT, 4, NULL, lines, sizeof lines, &lines_length,
                              &clamped) != 0 ||
            lines_length != k || memcmp(lines, expected, k) != 0 || clamped != 0) {
            return fail("compress_6b_lines did not lay the code out in lines of four");
        }
    }
    {
        /* The series as decimal text, four to a line, and parsed back in two blocks. */
        static const char expected[] = "10 12 15 19\n24 30\n";
        char printed[64];
        int32_t parsed[COUNT];
        size_t printed_length = 0;
        size_t used = 0;
        int first = -1;
        int second = -1;
        if (samples_to_text(series, COUNT, 4, NULL, printed, sizeof printed, &printed_length) !=
                COUNT ||
            printed_length != sizeof expected - 1 || memcmp(printed, expected, printed_length)) {
            return fail("samples_to_text did not print the series four to a line");
        }
        /* The first block ends inside "19": it is left for the second call. */
        if (samples_from_text(printed, 10, 0, parsed, COUNT, &first, &used) != 0 || first != 3 ||
            used != 9 ||
            samples_from_text(printed + used, printed_length - used, 1, parsed + first,
                              COUNT - first, &second, NULL) != 0 ||
            first + second != COUNT || memcmp(parsed, series, sizeof series) != 0) {
            return fail("samples_from_text did not read the printed series back");
        }
    }
    snprintf(section, sizeof section, "DAT2\n%s\nCHK2 %d\n", text,
             check_sum(series, COUNT, 0));
    if (decomp_6b_buffer(COUNT, decoded, next_line, &cursor) != COUNT) {
        return fail("decomp_6b_buffer did not decode every sample");
    }
    rem_2nd_diff(decoded, COUNT);
    if (memcmp(decoded, series, sizeof series) != 0) {
        return fail("the samples did not come back");
    }
    if (strcmp(cursor, "CHK2 110\n") != 0) {
        return fail("the checksum line is not the expected one");
    }

    memset(&header, 0, sizeof header);
    header.year = 2026;
    header.sample_count = COUNT;
    strcpy(header.station, "ABC");
    strcpy(header.data_format, "CM6");
    stream = fmemopen(line, sizeof line, "w+");
    if (stream == NULL || write_header(stream, &header) != 106) {
        return fail("write_header did not print a 105-character line");
    }
    rewind(stream);
    memset(&header, 0, sizeof header);
    if (read_header(stream, &header) != 0 || header.year != 2026 ||
        header.sample_count != COUNT || strcmp(header.station, "ABC  ") != 0) {
        return fail("read_header did not read the printed line back");
    }
    fclose(stream);

    ibm2ieee(&word, 1);
    memcpy(&value, &word, sizeof value);
    if (value != -118.625f) {
        return fail("ibm2ieee gave a wrong value");
    }
    if (ieee2ibm(&word, 1) != 0 || word != 0xC276A000u) {
        return fail("ieee2ibm did not give the IBM word back");
    }
    ibm2double(&word, &exact, 1);
    if (exact != -118.625) {
        return fail("ibm2double gave a wrong value");
    }
    if (double2ibm(&wide, &from_double, 1) != 0 || from_double != 0x41100001u) {
        return fail("double2ibm did not round the double once");
    }
    puts("consumer: both installed libraries work");
    return 0;
}
