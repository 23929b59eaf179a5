// Adds the path the conversions choose on this CPU to the benchmark run's context (ibm2ieee,
// ieee2ibm and ibm2double all take the fastest path the CPU runs).
#include <benchmark/benchmark.h>

#include "kernels.h"

namespace {

const bool added = [] {
    const char *chosen = ibmfloat::path_name(ibmfloat::best_path());
    for (const char *name : {"kernel.ibm2ieee", "kernel.ieee2ibm", "kernel.ibm2double"}) {
        benchmark::AddCustomContext(name, chosen);
    }
    return true;
}();

}  // namespace
