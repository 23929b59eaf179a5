// Every kernel of the four conversions is accounted for: a kernel this processor runs is in the
// lists the other tests iterate over and, forced under the public entry, is what that entry
// runs; one it cannot run is reported as skipped with the reason, never left out in silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "converters.h"
#include "forced_kernel.h"
#include "kernels.h"
#include "reference_from_double.h"
#include "reference_model.h"
#include "reference_to_double.h"
#include "reference_to_ibm.h"

namespace {

using testing_support::Forced;

template <typename List>
bool listed(const List &converters, const std::string &name) {
    return std::any_of(converters.begin(), converters.end(),
                       [&](const auto &c) { return c.name == name; });
}

// Words of every kind (normal, subnormal results, zeros, overflow, infinities and NaNs read as
// floats), in a length that leaves a partial vector at the end.
std::vector<uint32_t> mixed_words() {
    std::mt19937 gen(42);
    std::vector<uint32_t> words(1000 + 13);
    for (uint32_t &w : words) {
        w = static_cast<uint32_t>(gen());
    }
    const uint32_t edges[] = {0x00000000u, 0x80000000u, 0x00000001u, 0x007FFFFFu, 0x21400000u,
                              0x60FFFFFFu, 0x61100000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u,
                              0x3F800004u, 0x1A100000u, 0xFFFFFFFFu, 0x41100000u};
    for (size_t i = 0; i < std::size(edges); ++i) {
        words[i * 37] = edges[i];
    }
    return words;
}

// Runs each conversion's kernel of the parameter's name that this build and CPU run; the ones
// that cannot run are collected and reported by skipping the test at its end, with the reasons.
class KernelCoverage : public testing::TestWithParam<std::string> {
  protected:
    template <typename Fn>
    const cpu::Kernel<Fn> *runnable(const cpu::Family<Fn> &family) {
        const cpu::Kernel<Fn> *kernel = family.find(GetParam().c_str());
        EXPECT_NE(kernel, nullptr) << family.name() << " has no kernel " << GetParam();
        if (kernel != nullptr && !cpu::usable(*kernel)) {
            skipped_ += std::string(skipped_.empty() ? "" : "; ") + family.name() + " " +
                        kernel->name + ": " + testing_support::unusable_reason(*kernel);
            return nullptr;
        }
        return kernel;
    }
    void TearDown() override {
        if (!skipped_.empty()) {
            GTEST_SKIP() << skipped_;
        }
    }

  private:
    std::string skipped_;
};

TEST_P(KernelCoverage, RunnableKernelIsTestedForEveryConversion) {
    if (runnable(ibmfloat::to_ieee_family) != nullptr) {
        EXPECT_TRUE(listed(available_converters(), GetParam())) << "ibm2ieee " << GetParam();
    }
    if (runnable(ibmfloat::to_ibm_family) != nullptr) {
        EXPECT_TRUE(listed(available_to_ibm_converters(), GetParam())) << "ieee2ibm " << GetParam();
    }
    if (runnable(ibmfloat::to_double_family) != nullptr) {
        EXPECT_TRUE(listed(available_to_double_converters(), GetParam()))
            << "ibm2double " << GetParam();
    }
    if (runnable(ibmfloat::from_double_family) != nullptr) {
        EXPECT_TRUE(listed(every_from_double_converter(), GetParam())) << "double2ibm " << GetParam();
    }
}

TEST_P(KernelCoverage, ForcedUnderThePublicEntriesGivesExactResults) {
    const std::vector<uint32_t> input = mixed_words();
    const int count = static_cast<int>(input.size());
    if (const auto *kernel = runnable(ibmfloat::to_ieee_family)) {
        Forced<ibmfloat::ToIeeeFn> forced(ibmfloat::to_ieee_family, *kernel);
        ASSERT_STREQ(ibmfloat::to_ieee_family.chosen_name(), kernel->name);
        std::vector<uint32_t> w = input;
        ibm2ieee(w.data(), count);
        for (size_t i = 0; i < w.size(); ++i) {
            ASSERT_EQ(w[i], reference_ibm_to_ieee(input[i])) << std::hex << "word 0x" << input[i];
        }
    }
    if (const auto *kernel = runnable(ibmfloat::to_ibm_family)) {
        Forced<ibmfloat::ToIbmFn> forced(ibmfloat::to_ibm_family, *kernel);
        ASSERT_STREQ(ibmfloat::to_ibm_family.chosen_name(), kernel->name);
        std::vector<uint32_t> w = input;
        int no_value = 0;
        for (uint32_t f : input) {
            no_value += (f & 0x7F800000u) == 0x7F800000u ? 1 : 0;
        }
        EXPECT_EQ(ieee2ibm(w.data(), count), no_value);
        for (size_t i = 0; i < w.size(); ++i) {
            ASSERT_EQ(w[i], reference_float_to_ibm(input[i])) << std::hex << "float 0x" << input[i];
        }
    }
    if (const auto *kernel = runnable(ibmfloat::to_double_family)) {
        Forced<ibmfloat::ToDoubleFn> forced(ibmfloat::to_double_family, *kernel);
        ASSERT_STREQ(ibmfloat::to_double_family.chosen_name(), kernel->name);
        std::vector<double> out(input.size());
        ibm2double(input.data(), out.data(), count);
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(std::bit_cast<uint64_t>(out[i]), reference_ibm_to_double(input[i]))
                << std::hex << "word 0x" << input[i];
        }
    }
    if (const auto *kernel = runnable(ibmfloat::from_double_family)) {
        Forced<ibmfloat::FromDoubleFn> forced(ibmfloat::from_double_family, *kernel);
        ASSERT_STREQ(ibmfloat::from_double_family.chosen_name(), kernel->name);
        // The words read as doubles in pairs: every kind of double, in a partial last block.
        std::vector<double> doubles(input.size() / 2);
        std::memcpy(doubles.data(), input.data(), doubles.size() * sizeof(double));
        std::vector<uint32_t> out(doubles.size());
        int no_value = 0;
        for (double d : doubles) {
            no_value += reference_double_to_ibm(std::bit_cast<uint64_t>(d)).no_value ? 1 : 0;
        }
        EXPECT_EQ(double2ibm(doubles.data(), out.data(), static_cast<int>(doubles.size())),
                  no_value);
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], reference_double_to_ibm(std::bit_cast<uint64_t>(doubles[i])).word)
                << std::hex << "double bits 0x" << std::bit_cast<uint64_t>(doubles[i]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelCoverage,
                         testing::ValuesIn(testing_support::kernel_names(ibmfloat::to_ieee_family)),
                         [](const testing::TestParamInfo<std::string> &param) {
                             return param.param;
                         });

TEST(KernelChoice, EveryConversionTakesTheFirstRunnableKernelOfTheSameList) {
    auto check = [](auto &family) {
        const auto kernels = family.kernels();
        ASSERT_EQ(kernels.size(), ibmfloat::to_ieee_family.kernels().size()) << family.name();
        for (size_t i = 0; i < kernels.size(); ++i) {
            EXPECT_STREQ(kernels[i].name, ibmfloat::to_ieee_family.kernels()[i].name)
                << family.name();
        }
        EXPECT_STREQ(kernels.back().name, "portable") << family.name();
        EXPECT_EQ(kernels.back().needs, 0u) << family.name();
        EXPECT_NE(kernels.back().run, nullptr) << family.name();
        family.reset();
        const auto first = std::find_if(kernels.begin(), kernels.end(),
                                        [](const auto &k) { return cpu::usable(k); });
        ASSERT_NE(first, kernels.end()) << family.name();
        EXPECT_EQ(&family.best(), &*first) << family.name();
        EXPECT_STREQ(family.chosen_name(), first->name) << family.name();
    };
    check(ibmfloat::to_ieee_family);
    check(ibmfloat::to_ibm_family);
    check(ibmfloat::to_double_family);
    check(ibmfloat::from_double_family);
}

}  // namespace
