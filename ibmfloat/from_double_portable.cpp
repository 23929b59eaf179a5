// The portable double2ibm kernel, for any architecture and byte order: one double at a time, in a
// loop without branches; the words without an IBM value are counted as it goes.
#include <cstring>

#include "from_double_word.h"
#include "kernels.h"

namespace ibmfloat {

size_t from_double_portable(const double *in, uint32_t *out, size_t count) {
    size_t no_value = 0;
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = 0;
        std::memcpy(&bits, &in[i], sizeof bits);
        uint32_t none = 0;
        out[i] = from_double_word(bits, none);
        no_value += none & 1u;
    }
    return no_value;
}

}  // namespace ibmfloat
