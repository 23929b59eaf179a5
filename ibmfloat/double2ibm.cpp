// double2ibm: the public entry, through the fastest kernel this processor runs (kernels.cpp).
#include "exported.h"

#include "kernels.h"

int double2ibm(const double *in, uint32_t *out, int count) {
    if (in == nullptr || out == nullptr || count <= 0) {
        return 0;
    }
    // At most count words are counted, so the result fits in an int.
    return static_cast<int>(
        ibmfloat::from_double_family.get()(in, out, static_cast<size_t>(count)));
}
