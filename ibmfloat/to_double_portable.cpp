// The portable ibm2double kernel, for any architecture and byte order: one word at a time, in a
// loop without branches.
#include <cstring>

#include "kernels.h"
#include "to_double_word.h"

namespace ibmfloat {

void to_double_portable(const uint32_t *words, double *out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t bits = to_double_bits(words[i]);
        std::memcpy(&out[i], &bits, sizeof bits);
    }
}

}  // namespace ibmfloat
