// Every way of converting an array that this build and processor offer: each kernel the CPU can
// run, called directly, and the public entry with its own choice of kernel.
#ifndef IBMFLOAT_TEST_CONVERTERS_H
#define IBMFLOAT_TEST_CONVERTERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ibmfloat.h"
#include "kernels.h"

struct Converter {
    std::string name;
    ibmfloat::Kernel run;
};

// GoogleTest prints test parameters; without this it dumps the raw bytes, padding included.
inline void PrintTo(const Converter &converter, std::ostream *out) {
    *out << converter.name;
}

inline void run_public(uint32_t *words, size_t count) {
    ibm2ieee(words, static_cast<int>(count));
}

inline std::vector<Converter> available_converters() {
    std::vector<Converter> found;
    for (ibmfloat::Path path : ibmfloat::kAllPaths) {
        if (ibmfloat::kernel_for(path) != nullptr && ibmfloat::cpu_supports(path)) {
            found.push_back({ibmfloat::path_name(path), ibmfloat::kernel_for(path)});
        }
    }
    found.push_back({"ibm2ieee", run_public});
    return found;
}

inline std::string converter_name(const testing::TestParamInfo<Converter> &info) {
    return info.param.name;
}

#endif
