// Every way of converting an array that this build and processor offer, for each of the three
// conversions: each kernel the CPU can run, called directly, and the public entry with its own
// choice of kernel.
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
    ibmfloat::ToIeeeFn run;
};

// GoogleTest prints test parameters; without this it dumps the raw bytes, padding included.
inline void PrintTo(const Converter &converter, std::ostream *out) {
    *out << converter.name;
}

inline void run_public(uint32_t *words, size_t count) {
    ibm2ieee(words, static_cast<int>(count));
}

// The kernels of `family` this build has and the processor can run, by name.
template <typename Converter, typename Fn>
std::vector<Converter> runnable(const cpu::Family<Fn> &family) {
    std::vector<Converter> found;
    for (const cpu::Kernel<Fn> &kernel : family.kernels()) {
        if (cpu::usable(kernel)) {
            found.push_back({kernel.name, kernel.run});
        }
    }
    return found;
}

inline std::vector<Converter> available_converters() {
    std::vector<Converter> found = runnable<Converter>(ibmfloat::to_ieee_family);
    found.push_back({"ibm2ieee", run_public});
    return found;
}

struct ToIbmConverter {
    std::string name;
    ibmfloat::ToIbmFn run;
};

struct ToDoubleConverter {
    std::string name;
    ibmfloat::ToDoubleFn run;
};

inline void PrintTo(const ToIbmConverter &converter, std::ostream *out) {
    *out << converter.name;
}

inline void PrintTo(const ToDoubleConverter &converter, std::ostream *out) {
    *out << converter.name;
}

inline size_t run_public_to_ibm(uint32_t *words, size_t count) {
    return static_cast<size_t>(ieee2ibm(words, static_cast<int>(count)));
}

inline void run_public_to_double(const uint32_t *words, double *out, size_t count) {
    ibm2double(words, out, static_cast<int>(count));
}

inline std::vector<ToIbmConverter> available_to_ibm_converters() {
    std::vector<ToIbmConverter> found = runnable<ToIbmConverter>(ibmfloat::to_ibm_family);
    found.push_back({"ieee2ibm", run_public_to_ibm});
    return found;
}

inline std::vector<ToDoubleConverter> available_to_double_converters() {
    std::vector<ToDoubleConverter> found = runnable<ToDoubleConverter>(ibmfloat::to_double_family);
    found.push_back({"ibm2double", run_public_to_double});
    return found;
}

inline std::string converter_name(const testing::TestParamInfo<Converter> &info) {
    return info.param.name;
}

inline std::string to_ibm_name(const testing::TestParamInfo<ToIbmConverter> &info) {
    return info.param.name;
}

inline std::string to_double_name(const testing::TestParamInfo<ToDoubleConverter> &info) {
    return info.param.name;
}

#endif
