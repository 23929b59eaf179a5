// ieee2ibm: the public entry. Picks the fastest kernel this processor can run on first use and
// keeps it, as ibm2ieee does.
#include "exported.h"

#include <atomic>

#include "kernels.h"

namespace {

constinit std::atomic<ibmfloat::ToIbmKernel> chosen{nullptr};

static_assert(std::atomic<ibmfloat::ToIbmKernel>::is_always_lock_free,
              "the kernel pointer must be lock-free so no atomic library is needed");

ibmfloat::ToIbmKernel kernel() {
    ibmfloat::ToIbmKernel k = chosen.load(std::memory_order_relaxed);
    if (k == nullptr) {
        k = ibmfloat::to_ibm_kernel_for(ibmfloat::best_path());
        chosen.store(k, std::memory_order_relaxed);
    }
    return k;
}

}  // namespace

int ieee2ibm(uint32_t *words, int count) {
    if (words == nullptr || count <= 0) {
        return 0;
    }
    // At most count words are counted, so the result fits in an int.
    return static_cast<int>(kernel()(words, static_cast<size_t>(count)));
}
