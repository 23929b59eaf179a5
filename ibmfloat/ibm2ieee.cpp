// ibm2ieee: the public entry. Picks the fastest kernel this processor can run on first use and
// keeps it; concurrent first calls may each detect, but they store the same pointer atomically.
#include "exported.h"

#include <atomic>
#include <climits>

#include "kernels.h"

namespace {

constinit std::atomic<ibmfloat::Kernel> chosen{nullptr};

static_assert(std::atomic<ibmfloat::Kernel>::is_always_lock_free,
              "the kernel pointer must be lock-free so no atomic library is needed");

ibmfloat::Kernel kernel() {
    ibmfloat::Kernel k = chosen.load(std::memory_order_relaxed);
    if (k == nullptr) {
        k = ibmfloat::kernel_for(ibmfloat::best_path());
        chosen.store(k, std::memory_order_relaxed);
    }
    return k;
}

}  // namespace

void ibm2ieee(uint32_t *words, int count) {
    if (words == nullptr || count <= 0) {
        return;
    }
    kernel()(words, static_cast<size_t>(count));
}
