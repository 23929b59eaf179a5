// Running one kernel of a kernel family (cpu/kernel_table.h) in a test, the same way for both
// libraries: parameterized by kernel name, skipped with the reason when this build or CPU cannot
// run it, and forced under the public functions for the length of a scope.
#ifndef WAVELIBS_TEST_FORCED_KERNEL_H
#define WAVELIBS_TEST_FORCED_KERNEL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_table.h"

namespace testing_support {

// Why `kernel` cannot run here, or an empty text.
template <typename Fn>
std::string unusable_reason(const cpu::Kernel<Fn> &kernel) {
    char why[256];
    cpu::format_unusable(kernel, why, sizeof why);
    return why;
}

// The names of a family's kernels, fastest first, as test parameters.
template <typename Fn>
std::vector<std::string> kernel_names(const cpu::Family<Fn> &family) {
    std::vector<std::string> names;
    for (const cpu::Kernel<Fn> &k : family.kernels()) {
        names.emplace_back(k.name);
    }
    return names;
}

// Forces a kernel under the public functions for one scope, then restores the automatic choice.
template <typename Fn>
class Forced {
public:
    Forced(cpu::Family<Fn> &family, const cpu::Kernel<Fn> &kernel) : family_(family) {
        family_.force(kernel);
    }
    ~Forced() {
        family_.reset();
    }
    Forced(const Forced &) = delete;
    Forced &operator=(const Forced &) = delete;

private:
    cpu::Family<Fn> &family_;
};

}  // namespace testing_support

// Looks the test parameter (a kernel name) up in `family` into `kernel`; skips the test, with
// the reason, when this build or CPU cannot run it.
#define KERNEL_OR_SKIP(kernel, family)                                                        \
    const auto *kernel = (family).find(std::string(GetParam()).c_str());                      \
    ASSERT_NE(kernel, nullptr) << (family).name() << " has no kernel " << GetParam();         \
    if (!cpu::usable(*kernel)) {                                                              \
        GTEST_SKIP() << (family).name() << " " << kernel->name << ": "                       \
                     << testing_support::unusable_reason(*kernel);                            \
    }

#endif
