// The kernel lists of each family, fastest first. Builds without the x86 kernels keep their
// entries with no function, so every build lists the same kernels and says why one is missing.
#include "kernels.h"

namespace wavecodec {
namespace {

// The AVX-512 block encoder permutes and compresses bytes (VBMI, VBMI2), counts bits of 256-bit
// lanes (CD with VL) and the kept bytes (POPCNT).
constexpr cpu::Features kEncodeAvx512 = cpu::kAvx2 | cpu::kAvx512f | cpu::kAvx512bw |
                                        cpu::kAvx512vl | cpu::kAvx512cd | cpu::kAvx512vbmi |
                                        cpu::kAvx512vbmi2 | cpu::kPopcnt;

constexpr cpu::Kernel<EncodeBlockFn> kEncodeBlock[] = {
    {"avx512", kEncodeAvx512, WAVELIBS_X86(encode_block_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(encode_block_avx2)},
    {"portable", 0, encode_block_portable},
};

// The AVX-512 difference kernels also use AVX2 instructions (the compiler takes AVX2 with
// AVX-512F).
constexpr cpu::Features kDiffAvx512 = cpu::kAvx2 | cpu::kAvx512f;

constexpr cpu::Kernel<DiffFn> kDiff[] = {
    {"avx512", kDiffAvx512, WAVELIBS_X86(diff_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(diff_avx2)},
    {"portable", 0, diff_portable},
};

constexpr cpu::Kernel<PrefixSumsFn> kPrefixSums[] = {
    {"avx512", kDiffAvx512, WAVELIBS_X86(prefix_sums_avx512)},
    {"avx2", cpu::kAvx2, WAVELIBS_X86(prefix_sums_avx2)},
    {"portable", 0, prefix_sums_portable},
};

// The line decoders find the text's end and the sample ends by bit scans (BMI1 tzcnt) and count
// the sample ends (POPCNT); the AVX-512 one translates with a 128-byte look-up (VBMI), lists the
// sample ends by a byte compress (VBMI2), gathers eight samples' values at once and stores them
// under a mask (VL).
constexpr cpu::Features kDecodeAvx512 = cpu::kAvx2 | cpu::kBmi1 | cpu::kPopcnt | cpu::kAvx512f |
                                        cpu::kAvx512bw | cpu::kAvx512vl | cpu::kAvx512vbmi |
                                        cpu::kAvx512vbmi2;

constexpr cpu::Kernel<DecodeLineFn> kDecodeLine[] = {
    {"avx512", kDecodeAvx512, WAVELIBS_X86(decode_line_avx512)},
    {"avx2", cpu::kAvx2 | cpu::kBmi1 | cpu::kPopcnt, WAVELIBS_X86(decode_line_avx2)},
    {"portable", 0, decode_line_portable},
};

}  // namespace

constinit cpu::Family<EncodeBlockFn> encode_block_family{"encode_block", kEncodeBlock};
constinit cpu::Family<DiffFn> diff_family{"diff_2nd", kDiff};
constinit cpu::Family<PrefixSumsFn> prefix_sums_family{"rem_2nd_diff", kPrefixSums};
constinit cpu::Family<DecodeLineFn> decode_line_family{"decode_line", kDecodeLine};

}  // namespace wavecodec
