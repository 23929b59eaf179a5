// The processor features the libraries' kernels may use beyond the compiler's baseline, asked
// once per process. On x86 the answer comes from CPUID and XGETBV (whether the operating system
// saves the vector registers); on every other processor the set is empty and only the portable
// kernels run. Linked, hidden, into both shared libraries; never installed.
#ifndef WAVELIBS_CPU_FEATURES_H
#define WAVELIBS_CPU_FEATURES_H

#include <cstddef>
#include <cstdint>

namespace cpu {

// One bit per feature. A vector feature is present only when the OS also saves its registers.
enum Feature : uint32_t {
    kPopcnt = 1u << 0,
    kLzcnt = 1u << 1,
    kBmi1 = 1u << 2,
    kBmi2 = 1u << 3,
    kAvx2 = 1u << 4,
    kAvx512f = 1u << 5,
    kAvx512dq = 1u << 6,
    kAvx512cd = 1u << 7,
    kAvx512bw = 1u << 8,
    kAvx512vl = 1u << 9,
    kAvx512vbmi = 1u << 10,
    kAvx512vbmi2 = 1u << 11,
};
using Features = uint32_t;

inline constexpr Feature kAllFeatures[] = {kPopcnt,   kLzcnt,    kBmi1,      kBmi2,
                                           kAvx2,     kAvx512f,  kAvx512dq,  kAvx512cd,
                                           kAvx512bw, kAvx512vl, kAvx512vbmi, kAvx512vbmi2};

// The features of this processor and system. The first call detects and caches the answer
// (lock-free; concurrent first calls store the same value); later calls are one atomic load.
Features detected();

// True when every feature in `wanted` is present.
inline bool has(Features wanted) {
    return (detected() & wanted) == wanted;
}

// Lower-case name of one feature ("avx512vbmi2").
const char *feature_name(Feature feature);

// Writes the names of the features in `set`, separated by blanks, NUL-terminated and cut to
// `size` bytes; returns the length the full text needs (as snprintf does).
size_t format_features(Features set, char *out, size_t size);

// Why a kernel needing `wanted` cannot run here, e.g. "this CPU lacks avx512vbmi avx512vbmi2" or
// "not an x86 processor"; an empty text when it can. Same writing rules as format_features.
size_t format_missing(Features wanted, char *out, size_t size);

// The processor's name as it reports it (CPUID brand string), or the architecture's name.
size_t format_model(char *out, size_t size);

}  // namespace cpu

#endif
