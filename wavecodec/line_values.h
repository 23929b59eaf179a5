// The two steps of a line kernel. The first, per kernel, turns a line's text into code values and
// marks the columns that end a sample; the second, shared, assembles the samples from them.
#ifndef WAVECODEC_LINE_VALUES_H
#define WAVECODEC_LINE_VALUES_H

#include "decode_line.h"
#include "kernels.h"

#include <cstdint>

namespace wavecodec {

struct LineValues {
    // Eight zero bytes, then the code value (0 to 63) of each column of the text, then room for
    // the last vector store: the second step reads the eight bytes that end at any column.
    alignas(32) uint8_t bytes[8 + kLineRead + 32];
    uint8_t *value() { return bytes + 8; }
    const uint8_t *value() const { return bytes + 8; }
    // Bit i of ends[i / 64] (for i < length): column i ends a sample (its "another follows" bit is
    // clear). No bits at or past `length`.
    uint64_t ends[2];
    // Columns of text: up to the first NUL or white space, at most 80.
    int length;
};

// The second step: the samples of `values` into `out` (as the line kernels, decode_line.h).
int assemble_samples(const LineValues &values, int32_t *out, int room, OpenSample &open);

// The same from `column` on, where no sample is open (room > 0).
int assemble_samples_from(const LineValues &values, int column, int32_t *out, int room,
                          OpenSample &open);

// Parts of the second step for kernels that assemble samples their own way. Completes a sample
// open from an earlier line: stores it in out[0] and returns the column after its end, or returns
// the text's length (the sample still open) when this line does not end it.
int finish_open_sample(const LineValues &values, int32_t *out, OpenSample &open);
// Opens, in `open`, the sample that starts at `column` and goes past the text's end.
void open_sample(const LineValues &values, int column, OpenSample &open);
// The sample of values[first, end], of any length, digit by digit in wrapping 32-bit arithmetic.
int32_t long_sample(const uint8_t *values, int first, int end);

// The first step without vector instructions: `values` must hold zeros beyond column 80.
void line_values_portable(const char *line, LineValues &values);


}  // namespace wavecodec

#endif
