// The AVX-512 double2ibm kernel: the block loop of from_double_blocks.h vectorized by the compiler
// for AVX-512F (sixteen doubles per step in the short form; 64-bit shifts by lane in the exact
// form; the compiler takes AVX2 with AVX-512F).
// Built only for x86; run only when the CPU has AVX-512F and AVX2.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

#include "from_double_blocks.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
__attribute__((target("avx2,avx512f"))) size_t from_double_avx512(const double *in, uint32_t *out,
                                                        size_t count) {
    return convert_blocks(in, out, count);
}

}  // namespace ibmfloat

#endif
