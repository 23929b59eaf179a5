// The kernels of ieee2ibm and ibm2double for each path. Which paths the processor can run is
// answered by cpu_supports(), beside the ibm2ieee kernels' look-up.
#include "kernels.h"

namespace ibmfloat {

ToIbmKernel to_ibm_kernel_for(Path path) {
    switch (path) {
        case Path::portable:
            return to_ibm_portable;
#if defined(__x86_64__) || defined(__i386__)
        case Path::avx2:
            return to_ibm_avx2;
        case Path::avx512:
            return to_ibm_avx512;
#else
        case Path::avx2:
        case Path::avx512:
            return nullptr;
#endif
    }
    return nullptr;
}

ToDoubleKernel to_double_kernel_for(Path path) {
    switch (path) {
        case Path::portable:
            return to_double_portable;
#if defined(__x86_64__) || defined(__i386__)
        case Path::avx2:
            return to_double_avx2;
        case Path::avx512:
            return to_double_avx512;
#else
        case Path::avx2:
        case Path::avx512:
            return nullptr;
#endif
    }
    return nullptr;
}

}  // namespace ibmfloat
