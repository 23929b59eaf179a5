// Plainly written versions of the wavecodec routines, kept as the benchmarks' reference: the
// algorithms as first designed, without table tricks or vector loops. Same results as the library
// on valid input; not part of it.
#ifndef WAVELIBS_BENCH_REFERENCE_CODEC_H
#define WAVELIBS_BENCH_REFERENCE_CODEC_H

#include "wavecodec.h"

namespace reference {

// Per sample: bit length by frexp, then each character cut out with the mask and power-of-32
// tables and a division.
int compress_6b_buffer(const int32_t *samples, int count, char_writer writer);

// Per character: isspace for the end of a line's text, then the decode table.
int decomp_6b_buffer(int count, int32_t *samples, line_reader reader, void *stream);

// Straightforward loops: a new series each call.
void diff_2nd(int32_t *samples, int count);
void rem_2nd_diff(int32_t *samples, int count);

// 32-bit style: magnitude test and remainder at every step.
int check_sum(const int32_t *samples, int count, int initial);

}  // namespace reference

#endif
