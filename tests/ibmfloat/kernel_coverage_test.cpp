// Every kernel path of the three conversions is accounted for: a path this processor runs is in
// the lists the other tests iterate over, and one it cannot run is reported as skipped with the
// reason, never left out in silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "converters.h"
#include "cpu_features.h"
#include "kernels.h"

namespace {

class KernelPath : public testing::TestWithParam<ibmfloat::Path> {
  protected:
    // Skips the test, with the reason, when this build or processor cannot run the path.
    void SetUp() override {
        const ibmfloat::Path path = GetParam();
        if (ibmfloat::kernel_for(path) == nullptr) {
            GTEST_SKIP() << "this build has no " << ibmfloat::path_name(path)
                         << " kernels (not an x86 processor)";
        }
        if (!ibmfloat::cpu_supports(path)) {
            char why[160];
            cpu::format_missing(ibmfloat::needed_features(path), why, sizeof why);
            GTEST_SKIP() << ibmfloat::path_name(path) << " kernels cannot run: " << why;
        }
    }
};

template <typename List>
bool listed(const List &converters, const std::string &name) {
    return std::any_of(converters.begin(), converters.end(),
                       [&](const auto &c) { return c.name == name; });
}

TEST_P(KernelPath, RunnablePathIsTestedForEveryConversion) {
    const ibmfloat::Path path = GetParam();
    const std::string name = ibmfloat::path_name(path);
    EXPECT_NE(ibmfloat::to_ibm_kernel_for(path), nullptr);
    EXPECT_NE(ibmfloat::to_double_kernel_for(path), nullptr);
    EXPECT_TRUE(listed(available_converters(), name)) << "ibm2ieee " << name;
    EXPECT_TRUE(listed(available_to_ibm_converters(), name)) << "ieee2ibm " << name;
    EXPECT_TRUE(listed(available_to_double_converters(), name)) << "ibm2double " << name;
}

TEST(KernelChoice, LibraryTakesTheFastestRunnablePath) {
    ibmfloat::Path fastest = ibmfloat::Path::portable;
    for (ibmfloat::Path path : ibmfloat::kAllPaths) {
        if (ibmfloat::cpu_supports(path)) {
            fastest = path;  // kAllPaths runs from slowest to fastest
        }
    }
    EXPECT_EQ(ibmfloat::best_path(), fastest);
}

INSTANTIATE_TEST_SUITE_P(Paths, KernelPath, testing::ValuesIn(ibmfloat::kAllPaths),
                         [](const testing::TestParamInfo<ibmfloat::Path> &param) {
                             return std::string(ibmfloat::path_name(param.param));
                         });

}  // namespace
