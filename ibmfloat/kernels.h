// Internal interface of the conversion kernels: one per instruction set, all with the same
// contract as ibm2ieee but on a size_t count. The library picks one at run time; the tests and the
// benchmark link these statically to drive each kernel directly.
#ifndef IBMFLOAT_KERNELS_H
#define IBMFLOAT_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace ibmfloat {

using Kernel = void (*)(uint32_t *words, size_t count);

enum class Path { portable, avx2, avx512 };
inline constexpr Path kAllPaths[] = {Path::portable, Path::avx2, Path::avx512};

void convert_portable(uint32_t *words, size_t count);
#if defined(__x86_64__) || defined(__i386__)
void convert_avx2(uint32_t *words, size_t count);
void convert_avx512(uint32_t *words, size_t count);
#endif

// The kernel of a path, or null when this build has none for it (non-x86 targets).
Kernel kernel_for(Path path);
// True when this processor and operating system can run the path's kernel.
bool cpu_supports(Path path);
// The fastest path this processor can run.
Path best_path();
const char *path_name(Path path);

}  // namespace ibmfloat

#endif
