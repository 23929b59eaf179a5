// The portable ieee2ibm kernel, for any architecture and byte order: word by word, without
// branches on the data except for the rare words that are not normal finite floats.
#include "kernels.h"
#include "to_ibm_word.h"

namespace ibmfloat {

size_t to_ibm_portable(uint32_t *words, size_t count) {
    size_t no_value = 0;
    for (size_t i = 0; i < count; ++i) {
        no_value += has_no_ibm_value(words[i]) ? 1u : 0u;
        words[i] = to_ibm_word(words[i]);
    }
    return no_value;
}

}  // namespace ibmfloat
