// Which kernels exist in this build and which ones this processor can run. On x86 the answer
// comes from CPUID and from XGETBV, which tells whether the operating system saves the vector
// registers; elsewhere only the portable kernel exists.
#include "kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace ibmfloat {
namespace {

#if defined(__x86_64__) || defined(__i386__)

struct X86Features {
    bool avx2 = false;
    bool avx512f = false;
};

X86Features detect_x86() {
    X86Features found;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return found;
    }
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    if (!osxsave || !avx || __get_cpuid_max(0, nullptr) < 7) {
        return found;
    }
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0u));
    const bool ymm_saved = (xcr0_low & 0x06u) == 0x06u;  // SSE and AVX state
    const bool zmm_saved = (xcr0_low & 0xe6u) == 0xe6u;  // plus opmask and upper ZMM
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    found.avx2 = ymm_saved && (ebx & (1u << 5)) != 0;
    found.avx512f = zmm_saved && (ebx & (1u << 16)) != 0;
    return found;
}

#endif

}  // namespace

Kernel kernel_for(Path path) {
    switch (path) {
        case Path::portable:
            return convert_portable;
#if defined(__x86_64__) || defined(__i386__)
        case Path::avx2:
            return convert_avx2;
        case Path::avx512:
            return convert_avx512;
#else
        case Path::avx2:
        case Path::avx512:
            return nullptr;
#endif
    }
    return nullptr;
}

bool cpu_supports(Path path) {
    switch (path) {
        case Path::portable:
            return true;
#if defined(__x86_64__) || defined(__i386__)
        case Path::avx2:
            return detect_x86().avx2;
        case Path::avx512:
            return detect_x86().avx512f;
#else
        case Path::avx2:
        case Path::avx512:
            return false;
#endif
    }
    return false;
}

Path best_path() {
    if (cpu_supports(Path::avx512)) {
        return Path::avx512;
    }
    if (cpu_supports(Path::avx2)) {
        return Path::avx2;
    }
    return Path::portable;
}

const char *path_name(Path path) {
    switch (path) {
        case Path::portable:
            return "portable";
        case Path::avx2:
            return "avx2";
        case Path::avx512:
            return "avx512";
    }
    return "unknown";
}

}  // namespace ibmfloat
