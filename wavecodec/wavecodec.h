/*
 * wavecodec: routines for waveforms in the GSE2.0 text format.
 *
 *   - the WID2 header line: read_header, write_header;
 *   - the six-bit sample code (CM6): compress_6b_buffer (one character per writer call),
 *     compress_6b_chars (into a caller's buffer), compress_6b_lines (the same in lines, counting
 *     the clamped samples), decomp_6b_buffer (a whole data section),
 *     decomp_6b_chars (the code lines of a data section held in memory);
 *   - second differences: diff_2nd, rem_2nd_diff;
 *   - the CHK2 checksum: check_sum;
 *   - samples as decimal text: samples_from_text, samples_to_text.
 *
 * Plain C interface, valid C and C++. The library never allocates, keeps no files and starts no
 * threads; all memory and streams belong to the caller. Samples are 32-bit signed integers in host
 * byte order. Every function is re-entrant except diff_2nd (see there; diff_2nd_r is its
 * re-entrant twin).
 *
 * Arguments at their edges. Each function checks its arguments before it reads or writes
 * anything, and an argument it refuses changes nothing: no byte of `out`, no sample, no writer or
 * reader call, `*column` untouched; the result out-parameters (`*length`, `*clamped`, `*count`,
 * `*used`) are then 0. Every out-parameter of that kind may be null. A count of zero or below is
 * an empty input; widths and columns are checked over the whole int range (INT_MAX works as a
 * width). Checked first to last:
 *
 *   compress_6b_buffer  count <= 0: 0, nothing written (null pointers allowed);
 *                       samples or writer null (count > 0): -1.
 *   compress_6b_chars   count <= 0: 0 (null pointers allowed); samples or out null: -1;
 *                       capacity below the first sample's characters: -2, nothing written.
 *   compress_6b_lines   line_width < 1, or *column outside 0 to line_width - 1: -3, whatever the
 *                       other arguments; count <= 0: 0, nothing written (no LF either; null
 *                       pointers allowed); samples or out null: -1, the open line kept;
 *                       capacity below the first sample's bytes: -2, nothing written.
 *   decomp_6b_buffer    count 0: 0, no reader call ("no action." printed; null pointers
 *                       allowed); reader null: -1; samples null with count > 0: -1;
 *                       count < 0: reads up to the heading and the line after it and returns
 *                       0, storing nothing (samples may be null), or -1 when the input ends first.
 *   decomp_6b_chars     count <= 0: 0 (null pointers allowed); samples null, or text null with
 *                       a non-zero length: -1; text null with length 0 is an empty text: 0.
 *   diff_2nd            samples null or count <= 0: no sample changed, and `continued` 0 still
 *                       starts a new, empty series.
 *   diff_2nd_r          state null: -1; samples null with count > 0: -1 (the state kept too);
 *                       count <= 0: 0, no sample changed, `continued` 0 still resets *state.
 *   rem_2nd_diff        samples null or count < 2: nothing changed.
 *   check_sum           samples null or count <= 0: `initial`.
 *   samples_from_text   capacity < 0, text null with length > 0, or samples null with
 *                       capacity > 0: -4; length 0: 0 (text may be null); capacity 0: -2 at the
 *                       first word (samples may be null), 0 for a text without words.
 *   samples_to_text     per_line < 1, or *column outside 0 to per_line - 1: -3, whatever the
 *                       other arguments; count <= 0: 0, nothing written (null pointers
 *                       allowed); samples or out null: -1; capacity below the first value's
 *                       bytes: 0 samples printed, nothing written.
 *   read_header         stream or header null: -1, nothing read, *header untouched.
 *   write_header        stream or header null: -1, nothing written; an output error: negative.
 *
 * tests/exports/argument_table_test.cpp checks every row over a grid of these arguments.
 */
#ifndef WAVECODEC_H
#define WAVECODEC_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifndef WAVECODEC_API
#define WAVECODEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Receives one output character (a char promoted to int) per call; the result is ignored. */
typedef int (*char_writer)(int c);

/*
 * Stores the next input line into `buffer` (83 bytes: at most 82 characters and a NUL, the line's
 * end-of-line character kept, as fgets delivers it) and returns non-null; returns null at the end
 * of input. `stream` is the caller's opaque pointer, passed through unchanged.
 */
typedef char *(*line_reader)(char *buffer, void *stream);

/* Size of the line buffer handed to a line_reader. */
#define WAVECODEC_LINE_BUFFER 83

/*
 * The WID2 header line. Text fields hold exactly the line's columns (trailing blanks kept) and end
 * in a NUL. Natural alignment; 76 bytes.
 */
typedef struct wid2_header {
    int32_t year;               /* columns 6-9 */
    int32_t month;              /* 11-12 */
    int32_t day;                /* 14-15 */
    int32_t hour;               /* 17-18 */
    int32_t minute;             /* 20-21 */
    float second;               /* 23-28, with fraction */
    char station[6];            /* 30-34 */
    char channel[4];            /* 36-38 */
    char aux_id[5];             /* 40-43 */
    char data_format[4];        /* 45-47, e.g. "CM6" or "INT" */
    int32_t sample_count;       /* 49-56 */
    float sample_rate;          /* 58-68, samples per second */
    float calibration;          /* 70-79 */
    float calibration_period;   /* 81-87 */
    char instrument_type[7];    /* 89-94 */
    float horizontal_angle;     /* 96-100 */
    float vertical_angle;       /* 102-105 */
} wid2_header;

/*
 * Encodes `count` samples into six-bit code, handing each character to `writer` in order (one call
 * per character, nothing buffered; no line breaks). Magnitudes above 134217727 are clamped to it,
 * sign kept. Returns 0, or -1 at a sample of -2147483648 (which cannot be encoded: the characters
 * of the samples before it have been written, nothing after) or when `samples` or `writer` is null
 * and `count` is positive. A count of zero or below writes nothing and returns 0.
 */
WAVECODEC_API int compress_6b_buffer(const int32_t *samples, int count, char_writer writer);

/*
 * Addition for hosts that want whole arrays at once: encodes `count` samples into `out`, the same
 * characters compress_6b_buffer would hand to its writer, with no line breaks and no NUL. Never
 * writes more than `capacity` bytes; at most 6 * count are needed. `*length` (when not null)
 * receives the number of characters written, always those of whole samples.
 *   0   every sample was encoded;
 *   -1  a sample of -2147483648 stopped the encoding (the samples before it are in `out`),
 *       or `samples`/`out` is null with a positive count;
 *   -2  `out` is too small: the samples that fit whole are in `out`.
 */
WAVECODEC_API int compress_6b_chars(const int32_t *samples, int count, char *out,
                                    size_t capacity, size_t *length);

/*
 * Addition for hosts that write data sections: encodes `count` samples into `out` as
 * compress_6b_chars does, laid out in lines of `line_width` characters, each ended by one LF, and
 * counts the samples it clamps. A line ends as soon as it holds `line_width` characters; a
 * sample's characters may run on into the next line. Never writes more than `capacity` bytes, no
 * NUL; at most 6 * count characters are needed, plus one LF per `line_width` of them and one more.
 *   column   null: the text starts a line and ends with a whole line (the last, shorter one gets
 *            its LF too). Otherwise, to write one section in several calls: on entry the number
 *            of characters already on the open line (0 <= *column < line_width), on return that
 *            of the line left open, which has no LF yet; the caller ends it after the last call.
 *   length   (may be null) receives the bytes written: the characters of whole samples and the
 *            LF of every line they fill.
 *   clamped  (may be null) receives how many of the samples written had a magnitude above
 *            134217727 and were clamped to it.
 * Returns:
 *   0   every sample was encoded;
 *   -1  a sample of -2147483648 stopped the encoding (the samples before it are in `out`, the
 *       open line not ended), or `samples`/`out` is null with a positive count (nothing written,
 *       `*column` untouched: the open line still holds its characters);
 *   -2  `out` is too small: the whole samples that fit are in `out` (with a null `column`, the
 *       last line may lack its LF);
 *   -3  `line_width` is below 1 or `*column` is outside 0 to line_width - 1 (nothing written,
 *       `*column` untouched).
 * A count of zero or below writes nothing and returns 0 (or -3). Re-entrant.
 */
WAVECODEC_API int compress_6b_lines(const int32_t *samples, int count, int line_width,
                                    int *column, char *out, size_t capacity, size_t *length,
                                    int *clamped);

/*
 * Decodes one data section: skips lines up to one beginning "DAT2" or "DAT1", then decodes `count`
 * samples of six-bit code from the lines after it (columns 0 to 79; a line's text ends at its
 * NUL or the C locale's white space, whatever the host's locale; lines holding no code are passed
 * over) into `samples`, and leaves the "CHK2 " line unread. Returns `count`; the number stored so
 * far when a "CHK2 "/"CHK1 " line comes where a new sample is due; 0 for a count of zero (no line
 * read) or below (the heading and the line after it read, nothing stored); -1 when the input
 * ends too soon or `reader` is null with a non-zero count (or `samples` is null with a positive
 * count). Diagnostics, one line each, go to standard output prefixed "decomp_6b: ". Entries past
 * the returned number are untouched.
 */
WAVECODEC_API int decomp_6b_buffer(int count, int32_t *samples, line_reader reader,
                                   void *stream);

/*
 * Addition for hosts that hold a data section in memory: decodes `count` samples from the code
 * lines at `text` (the lines after the "DAT2" line), by decomp_6b_buffer's rules, and prints
 * nothing. `length` is the text's hard end: nothing at or past text + length is read, and no NUL
 * is needed. A line ends after its LF (or at the text's end); CR LF endings work, as CR is white
 * space. Only columns 0 to 79 hold code, a line's text ends at its first NUL or white space,
 * lines without code are passed over (a line longer than 80 columns is still one line), and
 * where a new sample is due a line beginning "CHK2 " or "CHK1 " ends the call early.
 * Returns:
 *   count  every sample was decoded; *used is the offset just past the line ending of the line
 *          that completed the last sample, so the checksum line (after any blank lines) follows
 *          there;
 *   n      fewer (n >= 0) when a "CHK2 "/"CHK1 " line came where a new sample was due (*used is
 *          that line's offset: text + *used starts with "CHK"), or when the text ended where a
 *          new sample was due (*used is `length`);
 *   -1     the text ended inside a sample (*used is `length`; the complete samples before it are
 *          stored), or `samples` is null, or `text` is null with a non-zero length, with a
 *          positive count (*used is 0; nothing is read or stored).
 * A count of zero or below reads nothing and returns 0 with *used 0. `used` may be null. Entries
 * past the stored ones are untouched. Unlike decomp_6b_buffer, text ending where a new sample is
 * due is not a failure here: the caller sees how many samples the text held.
 */
WAVECODEC_API int decomp_6b_chars(const char *text, size_t length, int count, int32_t *samples,
                                  size_t *used);

/*
 * Replaces `count` samples by their second differences, in place, in wrapping 32-bit arithmetic.
 * `continued` 0 starts a new series; any other value continues the series of the previous call.
 * NOT re-entrant: the differencing state is process-wide; one series at a time, one thread at a
 * time (diff_2nd_r keeps it in the caller's memory instead). A null array or a count of zero or
 * below changes no sample; with `continued` 0 it still starts a new, empty series.
 */
WAVECODEC_API void diff_2nd(int32_t *samples, int count, int continued);

/*
 * The differencing state of one series for diff_2nd_r, in the caller's memory: the two latest
 * input samples. All zeros (or a call with `continued` 0) starts a new series, as if two zero
 * samples came before its first; setting them to the two samples before a block continues a
 * series from there.
 */
typedef struct diff_2nd_state {
    int32_t second_last; /* the input before the latest */
    int32_t last;        /* the latest input */
} diff_2nd_state;

/*
 * diff_2nd with the series' state in `*state` instead of process-wide: the same differences,
 * block by block, through the same kernels. Re-entrant: series with states of their own may be
 * differenced at once from any threads. `continued` 0 starts a new series (zeroes *state); any
 * other value continues the series *state holds. Returns 0, or -1 (nothing changed, *state
 * neither) when `state` is null, or `samples` is null with a positive count. A count of zero or
 * below changes no sample and returns 0 (with `continued` 0, *state is still zeroed).
 */
WAVECODEC_API int diff_2nd_r(diff_2nd_state *state, int32_t *samples, int count, int continued);

/*
 * Replaces `count` second differences of a whole series by the series itself, in place (the
 * inverse of diff_2nd over one array). Counts below 2 and a null array do nothing.
 */
WAVECODEC_API void rem_2nd_diff(int32_t *samples, int count);

/*
 * The CHK2 checksum: starting from `initial`, adds each sample (reduced by the truncating
 * remainder modulo 100000000 when its magnitude exceeds 99999999), reducing the sum the same way
 * whenever its magnitude exceeds 99999999. Pass the previous result as `initial` to sum in blocks.
 * Returns `initial` for no samples or a null array.
 */
WAVECODEC_API int check_sum(const int32_t *samples, int count, int initial);

/*
 * Addition for hosts that read samples given as text: parses the decimal integers of
 * text[0, length), words separated by white space (space, tab, LF, VT, FF, CR), each an optional
 * "+" or "-", then one or more digits (leading zeros allowed), into `samples` (at most
 * `capacity` of them). Nothing at or past text + length is read; no NUL is needed. The text can
 * come in blocks: with `last` 0 the text is taken to go on after `length`, so a word reaching
 * the end is not read (it may be cut short) and *used is its start; the caller passes it again
 * at the head of the next block. With `last` non-zero the text ends there.
 *   count  (may be null) receives the number of samples stored;
 *   used   (may be null) receives the offset where parsing stopped: `length` when all was read,
 *          else the start of the word not read (the faulty one for -1 and -3).
 * Returns:
 *   0   every whole word was stored (see `last`);
 *   -1  the word at *used is not an integer (the samples before it are stored);
 *   -2  `samples` is full: the word at *used is the next to parse;
 *   -3  the word at *used is outside -2147483648 to 2147483647;
 *   -4  `capacity` is negative, `text` is null with a non-zero length, or `samples` is null
 *       with a positive capacity (nothing read or stored: *count and *used 0).
 * A capacity of 0 stores nothing (`samples` may then be null): -2 at the first word.
 * A word that is not an integer is reported as such even when its digits overflow.
 * Re-entrant; one pass, no look-back.
 */
WAVECODEC_API int samples_from_text(const char *text, size_t length, int last, int32_t *samples,
                                    int capacity, int *count, size_t *used);

/*
 * Addition for hosts that write samples as text: prints `count` samples in decimal ("-" before
 * negatives, no leading zeros or "+") into `out`, `per_line` values to a line, one space between
 * values on a line and one LF ending each line. Never writes more than `capacity` bytes, no NUL;
 * 12 bytes per sample always suffice, plus one.
 *   column  null: the text starts a line and the last line, full or not, ends with its LF.
 *           Otherwise, to print one series in several calls: on entry the number of values
 *           already on the open line (0 <= *column < per_line), on return that of the line left
 *           open (no space after its last value and no LF yet: the next call goes on with a
 *           space, the caller ends the last line).
 *   length  (may be null) receives the bytes written: whole values with their separators.
 * Returns the number of samples printed: `count`, or fewer when `out` is full (the last line
 * then lacks its LF); -1 when `samples` or `out` is null with a positive count (nothing
 * written); -3 when `per_line` is below 1 or `*column` is outside 0 to per_line - 1 (nothing
 * written, `*column` untouched). A count of zero or below prints nothing and returns 0.
 * Re-entrant.
 */
WAVECODEC_API int samples_to_text(const int32_t *samples, int count, int per_line, int *column,
                                  char *out, size_t capacity, size_t *length);

/*
 * Skips lines up to the next one beginning "WID2", parses it into `*header` and leaves the stream
 * after that line. Returns 0, or -1 when the stream ends first (the record is untouched) or an
 * argument is null. Numbers are read with "." decimals whatever the host's locale. Numeric fields
 * that do not convert keep their previous values; a numeric field whose columns are all blank
 * does not convert, and the numeric fields after it in the same group (date and time; count,
 * rate, calibration, period and angles) then keep theirs too.
 */
WAVECODEC_API int read_header(FILE *stream, wid2_header *header);

/*
 * Prints `*header` as one WID2 line (newline included) at the stream's position, with "."
 * decimals whatever the host's locale (which is left unchanged). Text fields are printed to at
 * most their widths. Returns the number of characters written, negative on an
 * output error, -1 for a null argument.
 */
WAVECODEC_API int write_header(FILE *stream, const wid2_header *header);

#ifdef __cplusplus
}
#endif

#endif /* WAVECODEC_H */
