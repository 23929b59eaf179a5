// The kernels of ieee2ibm and ibm2double for each path. Which paths the processor can run is
// answered by cpu_supports(), beside the ibm2ieee kernels' look-up.
#include "kernels.h"

namespace ibmfloat {

ToIbmKernel to_ibm_kernel_for(Path path) {
    switch (path) {
        case Path::portable:
            return to_ibm_portable;
        case Path::avx2:
        case Path::avx512:
            return nullptr;
    }
    return nullptr;
}

ToDoubleKernel to_double_kernel_for(Path path) {
    switch (path) {
        case Path::portable:
            return to_double_portable;
        case Path::avx2:
        case Path::avx512:
            return nullptr;
    }
    return nullptr;
}

}  // namespace ibmfloat
