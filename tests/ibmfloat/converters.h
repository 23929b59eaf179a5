// Every way of converting an array, for each of the three conversions: each kernel of the table,
// called directly, and the public entry with its own choice of kernel. The available_* lists hold
// those this build and processor run; the every_* lists, for parameterized tests, hold all of
// them, a kernel that cannot run here with the reason, so that ConverterTest skips it saying why.
#ifndef IBMFLOAT_TEST_CONVERTERS_H
#define IBMFLOAT_TEST_CONVERTERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "forced_kernel.h"
#include "ibmfloat.h"
#include "kernels.h"

struct Converter {
    std::string name;
    ibmfloat::ToIeeeFn run;
    std::string unusable;  // why this kernel cannot run here; empty when it can
};

// GoogleTest prints test parameters; without this it dumps the raw bytes, padding included.
inline void PrintTo(const Converter &converter, std::ostream *out) {
    *out << converter.name;
}

inline void run_public(uint32_t *words, size_t count) {
    ibm2ieee(words, static_cast<int>(count));
}

// The kernels of `family` by name: those this build has and the processor can run, or (with
// `all`) every one, an unusable one with the reason.
template <typename Converter, typename Fn>
std::vector<Converter> kernels_of(const cpu::Family<Fn> &family, bool all) {
    std::vector<Converter> found;
    for (const cpu::Kernel<Fn> &kernel : family.kernels()) {
        if (cpu::usable(kernel)) {
            found.push_back({kernel.name, kernel.run, ""});
        } else if (all) {
            found.push_back({kernel.name, kernel.run, testing_support::unusable_reason(kernel)});
        }
    }
    return found;
}

inline std::vector<Converter> available_converters(bool all = false) {
    std::vector<Converter> found = kernels_of<Converter>(ibmfloat::to_ieee_family, all);
    found.push_back({"ibm2ieee", run_public, ""});
    return found;
}

inline std::vector<Converter> every_converter() {
    return available_converters(true);
}

struct ToIbmConverter {
    std::string name;
    ibmfloat::ToIbmFn run;
    std::string unusable;
};

struct ToDoubleConverter {
    std::string name;
    ibmfloat::ToDoubleFn run;
    std::string unusable;
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

inline std::vector<ToIbmConverter> available_to_ibm_converters(bool all = false) {
    std::vector<ToIbmConverter> found = kernels_of<ToIbmConverter>(ibmfloat::to_ibm_family, all);
    found.push_back({"ieee2ibm", run_public_to_ibm, ""});
    return found;
}

inline std::vector<ToIbmConverter> every_to_ibm_converter() {
    return available_to_ibm_converters(true);
}

inline std::vector<ToDoubleConverter> available_to_double_converters(bool all = false) {
    std::vector<ToDoubleConverter> found =
        kernels_of<ToDoubleConverter>(ibmfloat::to_double_family, all);
    found.push_back({"ibm2double", run_public_to_double, ""});
    return found;
}

inline std::vector<ToDoubleConverter> every_to_double_converter() {
    return available_to_double_converters(true);
}

struct FromDoubleConverter {
    std::string name;
    ibmfloat::FromDoubleFn run;
    std::string unusable;
};

inline void PrintTo(const FromDoubleConverter &converter, std::ostream *out) {
    *out << converter.name;
}

inline size_t run_public_from_double(const double *in, uint32_t *out, size_t count) {
    return static_cast<size_t>(double2ibm(in, out, static_cast<int>(count)));
}

inline std::vector<FromDoubleConverter> every_from_double_converter() {
    std::vector<FromDoubleConverter> found =
        kernels_of<FromDoubleConverter>(ibmfloat::from_double_family, true);
    found.push_back({"double2ibm", run_public_from_double, ""});
    return found;
}

inline std::string from_double_name(const testing::TestParamInfo<FromDoubleConverter> &info) {
    return info.param.name;
}

// A test parameterized by converter: skipped, with the reason, for a kernel that cannot run here.
template <typename C>
class ConverterTest : public testing::TestWithParam<C> {
  protected:
    void SetUp() override {
        if (!this->GetParam().unusable.empty()) {
            GTEST_SKIP() << this->GetParam().name << ": " << this->GetParam().unusable;
        }
    }
};

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
