// The wavecodec kernel families (cpu/kernel_table.h): each routine that has more than one
// implementation lists its kernels in kernels.cpp, fastest first, portable last.
//
// Adding a family:
//   1. Declare its function type below (a plain function pointer; counts as size_t).
//   2. Write one kernel per instruction set, each in the file of its set (encode_block_avx2.cpp,
//      diff_kernels_avx512.cpp, ...), x86 ones inside #ifdef WAVELIBS_X86_KERNELS with
//      __attribute__((target(...))) naming exactly the features listed for it, and declare them
//      here.
//   3. In kernels.cpp, list the kernels fastest first, portable last, the x86 functions wrapped
//      in WAVELIBS_X86() (so every build lists the same names and a test reports why it skips
//      one), and define the family from the list.
//   4. Declare the family below (extern) and call family.get()(...) from the public entry.
//   5. Test every kernel against the portable one (tests/wavecodec/kernel_table_test.cpp runs
//      each family's kernels by forcing them) and benchmark each by forcing it (bench/).
#ifndef WAVECODEC_KERNELS_H
#define WAVECODEC_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "kernel_table.h"

namespace wavecodec {

// ---- Block encoder: the six-bit code of samples[0, count), count <= kBlock and none of them
// -2147483648, into `out` (kBlockBuffer bytes, see sixbit_code.h); returns the characters.
using EncodeBlockFn = size_t (*)(const int32_t *samples, int count, char *out);
size_t encode_block_portable(const int32_t *samples, int count, char *out);
#ifdef WAVELIBS_X86_KERNELS
size_t encode_block_avx2(const int32_t *samples, int count, char *out);
size_t encode_block_avx512(const int32_t *samples, int count, char *out);
#endif
extern constinit cpu::Family<EncodeBlockFn> encode_block_family;

// ---- Second differences of samples[0, count) in place, continuing a series whose state is the
// latest input (`last`) and the one before it minus twice the latest (`carry`); updates both.
using DiffFn = void (*)(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
void diff_portable(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
#ifdef WAVELIBS_X86_KERNELS
void diff_avx2(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
void diff_avx512(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
#endif
extern constinit cpu::Family<DiffFn> diff_family;

// ---- Double running sum of samples[0, count) in place (restoring from second differences),
// continuing from the running sums `first` and `second`; updates both.
using PrefixSumsFn = void (*)(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
void prefix_sums_portable(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
#ifdef WAVELIBS_X86_KERNELS
void prefix_sums_avx2(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
void prefix_sums_avx512(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
#endif
extern constinit cpu::Family<PrefixSumsFn> prefix_sums_family;

// ---- Line decoder: the six-bit code of one line's text, a sample possibly continuing from and
// into other lines (decode_line.h).
struct OpenSample;
using DecodeLineFn = int (*)(const char *line, int32_t *out, int room, OpenSample &open);
int decode_line_portable(const char *line, int32_t *out, int room, OpenSample &open);
#ifdef WAVELIBS_X86_KERNELS
int decode_line_avx2(const char *line, int32_t *out, int room, OpenSample &open);
int decode_line_avx512(const char *line, int32_t *out, int room, OpenSample &open);
#endif
extern constinit cpu::Family<DecodeLineFn> decode_line_family;

}  // namespace wavecodec

#endif
