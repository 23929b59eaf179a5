// The portable double2ibm kernel, for any architecture and byte order: the block loop of
// from_double_blocks.h as the compiler vectorizes it for the baseline (SSE2 on x86-64).
#include "from_double_blocks.h"
#include "kernels.h"

namespace ibmfloat {

size_t from_double_portable(const double *in, uint32_t *out, size_t count) {
    return convert_blocks(in, out, count);
}

}  // namespace ibmfloat
