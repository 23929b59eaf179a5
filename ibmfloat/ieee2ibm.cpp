// ieee2ibm: the public entry, through the fastest kernel this processor runs (kernels.cpp).
#include "exported.h"

#include "kernels.h"

int ieee2ibm(uint32_t *words, int count) {
    if (words == nullptr || count <= 0) {
        return 0;
    }
    // At most count words are counted, so the result fits in an int.
    return static_cast<int>(ibmfloat::to_ibm_family.get()(words, static_cast<size_t>(count)));
}
