// The AVX2 double2ibm kernel: the block loop of from_double_blocks.h vectorized by the compiler
// for AVX2 (eight doubles per step in the short form; 64-bit shifts by lane in the exact form).
// Built only for x86; run only when the CPU has AVX2.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

#include "from_double_blocks.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
__attribute__((target("avx2"))) size_t from_double_avx2(const double *in, uint32_t *out,
                                                        size_t count) {
    return convert_blocks(in, out, count);
}

}  // namespace ibmfloat

#endif
