// Run-time test for the x86 vector extensions the kernels may use beyond the compiler's baseline.
// Elsewhere, or when built with WAVECODEC_NO_SIMD, every test answers false and the portable
// loops run.
#ifndef WAVECODEC_CPU_FEATURES_H
#define WAVECODEC_CPU_FEATURES_H

#if defined(__x86_64__) && !defined(WAVECODEC_NO_SIMD) && (defined(__GNUC__) || defined(__clang__))
#define WAVECODEC_X86_DISPATCH 1
#include <cpuid.h>
#include <atomic>
#endif

namespace wavecodec {

#ifdef WAVECODEC_X86_DISPATCH
// AVX-512 Foundation usable: the CPU has it and the system saves the vector registers (XCR0:
// SSE, AVX, opmask and both halves of the upper ZMM state).
inline bool detect_avx512f() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0) {
        return false;
    }
    unsigned xcr0 = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if ((xcr0 & 0xe6u) != 0xe6u) {
        return false;
    }
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_AVX512F) != 0;
}

// Runs `Detect` once per process (cpuid is slow under a hypervisor) and keeps its answer; a race
// only repeats the question.
template <bool (*Detect)()>
bool cached_feature() {
    static std::atomic<int> known{0};  // 0 not yet asked, 1 no, 2 yes
    int state = known.load(std::memory_order_relaxed);
    if (state == 0) {
        state = Detect() ? 2 : 1;
        known.store(state, std::memory_order_relaxed);
    }
    return state == 2;
}

inline bool has_avx512f() {
    return cached_feature<detect_avx512f>();
}
#else
inline bool has_avx512f() {
    return false;
}
#endif

}  // namespace wavecodec

#endif
