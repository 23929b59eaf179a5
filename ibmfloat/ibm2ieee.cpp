// ibm2ieee: the public entry, through the fastest kernel this processor runs (kernels.cpp).
#include "exported.h"

#include "kernels.h"

void ibm2ieee(uint32_t *words, int count) {
    if (words == nullptr || count <= 0) {
        return;
    }
    ibmfloat::to_ieee_family.get()(words, static_cast<size_t>(count));
}
