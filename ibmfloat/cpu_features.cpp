// Which kernels exist in this build and which ones this processor can run (the shared CPU
// feature detection); elsewhere than x86 only the portable kernel exists.
#include "kernels.h"

#include "cpu_features.h"

namespace ibmfloat {

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

cpu::Features needed_features(Path path) {
    switch (path) {
        case Path::portable:
            return 0;
        case Path::avx2:
            return cpu::kAvx2;
        case Path::avx512:
            return cpu::kAvx512f;
    }
    return 0;
}

bool cpu_supports(Path path) {
    return kernel_for(path) != nullptr && cpu::has(needed_features(path));
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
