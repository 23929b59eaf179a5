// ibm2double: the public entry. Picks the fastest kernel this processor can run on first use and
// keeps it, as ibm2ieee does.
#include "exported.h"

#include <atomic>

#include "kernels.h"

namespace {

constinit std::atomic<ibmfloat::ToDoubleKernel> chosen{nullptr};

static_assert(std::atomic<ibmfloat::ToDoubleKernel>::is_always_lock_free,
              "the kernel pointer must be lock-free so no atomic library is needed");

ibmfloat::ToDoubleKernel kernel() {
    ibmfloat::ToDoubleKernel k = chosen.load(std::memory_order_relaxed);
    if (k == nullptr) {
        k = ibmfloat::to_double_kernel_for(ibmfloat::best_path());
        chosen.store(k, std::memory_order_relaxed);
    }
    return k;
}

}  // namespace

void ibm2double(const uint32_t *words, double *out, int count) {
    if (words == nullptr || out == nullptr || count <= 0) {
        return;
    }
    kernel()(words, out, static_cast<size_t>(count));
}
