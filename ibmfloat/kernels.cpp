// The kernel lists of each conversion, fastest first. Builds without the x86 kernels keep their
// entries with no function, so every build lists the same kernels and says why one is missing.
// Each kernel's features are those its target attribute names: the AVX-512 ones also use AVX2
// instructions (the compiler takes AVX2 with AVX-512F), and the ieee2ibm kernels count the
// words without an IBM value with POPCNT. The double2ibm vector kernels are its portable loop
// compiled for their instruction sets (from_double_blocks.h).
#include "kernels.h"

namespace ibmfloat {
namespace {

constexpr cpu::Features kAvx512 = cpu::kAvx2 | cpu::kAvx512f;

constexpr cpu::Kernel<ToIeeeFn> kToIeee[] = {
    {"avx512", kAvx512, WAVELIBS_X86(convert_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(convert_avx2)},
    {"portable", 0, convert_portable},
};

constexpr cpu::Kernel<ToIbmFn> kToIbm[] = {
    {"avx512", kAvx512 | cpu::kPopcnt, WAVELIBS_X86(to_ibm_avx512)},
    {"avx2", cpu::kAvx2 | cpu::kPopcnt, WAVELIBS_X86(to_ibm_avx2)},
    {"portable", 0, to_ibm_portable},
};

constexpr cpu::Kernel<ToDoubleFn> kToDouble[] = {
    {"avx512", kAvx512, WAVELIBS_X86(to_double_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(to_double_avx2)},
    {"portable", 0, to_double_portable},
};

constexpr cpu::Kernel<FromDoubleFn> kFromDouble[] = {
    {"avx512", kAvx512, WAVELIBS_X86(from_double_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(from_double_avx2)},
    {"portable", 0, from_double_portable},
};

}  // namespace

constinit cpu::Family<ToIeeeFn> to_ieee_family{"ibm2ieee", kToIeee};
constinit cpu::Family<ToIbmFn> to_ibm_family{"ieee2ibm", kToIbm};
constinit cpu::Family<ToDoubleFn> to_double_family{"ibm2double", kToDouble};
constinit cpu::Family<FromDoubleFn> from_double_family{"double2ibm", kFromDouble};

}  // namespace ibmfloat
