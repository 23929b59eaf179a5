// Adds the conversion kernel ibm2ieee chooses on this CPU to the benchmark run's context.
#include <benchmark/benchmark.h>

#include "kernels.h"

namespace {

const bool added = [] {
    benchmark::AddCustomContext("kernel.ibm2ieee", ibmfloat::path_name(ibmfloat::best_path()));
    return true;
}();

}  // namespace
