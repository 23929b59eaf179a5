// Adds the kernel each conversion chooses on this CPU to the benchmark run's context
// ("kernel.ibm2ieee").
#include <benchmark/benchmark.h>

#include "forced_kernels.h"
#include "kernels.h"

namespace {

const bool added = [] {
    bench::add_choice(ibmfloat::to_ieee_family);
    bench::add_choice(ibmfloat::to_ibm_family);
    bench::add_choice(ibmfloat::to_double_family);
    bench::add_choice(ibmfloat::from_double_family);
    return true;
}();

}  // namespace
