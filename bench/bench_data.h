// Realistic inputs shared by the wavecodec benchmarks: a seismic-like trace, its second
// differences and its six-bit code laid out in 80-column lines, all built once per process.
#ifndef WAVELIBS_BENCH_DATA_H
#define WAVELIBS_BENCH_DATA_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Elements of the array routines' buffer (64 MiB of samples).
inline constexpr size_t kArrayCount = size_t{16} << 20;
// Samples of the code benchmarks (encoders and decoder).
inline constexpr size_t kCodeCount = size_t{1} << 20;

// A smooth trace (a few decaying oscillations over a slow drift) with noise, amplitudes around
// 1e5; deterministic.
std::vector<int32_t> seismic_trace(size_t count);

// The trace's second differences: what the encoder is given in practice.
std::vector<int32_t> second_differences(size_t count);

// A data section as a file holds it: a "DAT2" line, the code of `samples` in lines of 80
// characters, and a "CHK2" line.
std::string code_section(const std::vector<int32_t> &samples);

// Reads lines of an in-memory text the way fgets does (at most 82 characters, end-of-line kept,
// NUL added); a line_reader is given a pointer to one of these as its stream.
struct MemoryLines {
    const char *next;
    const char *end;
};
char *read_memory_line(char *buffer, void *stream);

}  // namespace bench

#endif
