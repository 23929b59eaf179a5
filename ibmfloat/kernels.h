// Internal interface of the conversion kernels: for each public function one kernel per
// instruction set, all with the contract of that function but on a size_t count. The library picks
// one at run time; the tests and the benchmark link these statically to drive each kernel directly.
#ifndef IBMFLOAT_KERNELS_H
#define IBMFLOAT_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "cpu_features.h"

namespace ibmfloat {

using Kernel = void (*)(uint32_t *words, size_t count);

enum class Path { portable, avx2, avx512 };
inline constexpr Path kAllPaths[] = {Path::portable, Path::avx2, Path::avx512};

void convert_portable(uint32_t *words, size_t count);
#if defined(__x86_64__) || defined(__i386__)
void convert_avx2(uint32_t *words, size_t count);
void convert_avx512(uint32_t *words, size_t count);
#endif

// Kernels of ieee2ibm (returning how many words had no IBM value) and of ibm2double.
using ToIbmKernel = size_t (*)(uint32_t *words, size_t count);
using ToDoubleKernel = void (*)(const uint32_t *words, double *out, size_t count);

size_t to_ibm_portable(uint32_t *words, size_t count);
void to_double_portable(const uint32_t *words, double *out, size_t count);
#if defined(__x86_64__) || defined(__i386__)
size_t to_ibm_avx2(uint32_t *words, size_t count);
size_t to_ibm_avx512(uint32_t *words, size_t count);
void to_double_avx2(const uint32_t *words, double *out, size_t count);
void to_double_avx512(const uint32_t *words, double *out, size_t count);
#endif

// The kernel of a path, or null when this build has none for it (non-x86 targets).
Kernel kernel_for(Path path);
ToIbmKernel to_ibm_kernel_for(Path path);
ToDoubleKernel to_double_kernel_for(Path path);
// The processor features a path's kernels need (none for the portable path).
cpu::Features needed_features(Path path);
// True when this build has the path's kernels and this processor and system can run them.
bool cpu_supports(Path path);
// The fastest path this processor can run.
Path best_path();
const char *path_name(Path path);

}  // namespace ibmfloat

#endif
