// ibm2double: the public entry, through the fastest kernel this processor runs (kernels.cpp).
#include "exported.h"

#include "kernels.h"

void ibm2double(const uint32_t *words, double *out, int count) {
    if (words == nullptr || out == nullptr || count <= 0) {
        return;
    }
    ibmfloat::to_double_family.get()(words, out, static_cast<size_t>(count));
}
