// The two steps of a line kernel. The first, per kernel, turns a line's text into code values and
// marks the columns that end a sample; the second, shared, assembles the samples from them.
#ifndef WAVECODEC_LINE_VALUES_H
#define WAVECODEC_LINE_VALUES_H

#include "decode_line.h"
#include "kernels.h"

#include <cstdint>

namespace wavecodec {

struct LineValues {
    // Code value (0 to 63) of each column of the text; zeros after it, so that the second step
    // may read eight bytes from any column of the text.
    alignas(32) uint8_t value[kLineRead + 32];
    // Bit i of ends[i / 64] (for i < length): column i ends a sample (its "another follows" bit is
    // clear). No bits at or past `length`.
    uint64_t ends[2];
    // Columns of text: up to the first NUL or white space, at most 80.
    int length;
};

// The second step: the samples of `values` into `out` (see LineKernel).
int assemble_samples(const LineValues &values, int32_t *out, int room, OpenSample &open);

// The first step without vector instructions: `values` must hold zeros beyond column 80.
void line_values_portable(const char *line, LineValues &values);


}  // namespace wavecodec

#endif
