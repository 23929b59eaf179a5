// Prints every kernel of both libraries' tables, one line each:
//   FAMILY KERNEL NEEDS OFFSET
// NEEDS is the kernel's feature list joined by commas ("-" for none), OFFSET the distance in
// bytes from the anchor function below to the kernel's function ("-" when this build has none),
// so that check_kernel_instructions.py can find the kernel's code in this executable.
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "ibmfloat/kernels.h"
#include "kernel_table.h"
#include "wavecodec/kernels.h"

extern "C" __attribute__((noinline, used)) void wavelibs_kernel_manifest_anchor() {}

namespace {

template <typename Fn>
void print(const cpu::Family<Fn> &family) {
    for (const cpu::Kernel<Fn> &k : family.kernels()) {
        char needs[256] = "-";
        if (k.needs != 0) {
            cpu::format_features(k.needs, needs, sizeof needs);
            for (char *c = needs; *c != '\0'; ++c) {
                *c = *c == ' ' ? ',' : *c;
            }
        }
        if (k.run == nullptr) {
            std::printf("%s %s %s -\n", family.name(), k.name, needs);
            continue;
        }
        const auto at = reinterpret_cast<uintptr_t>(k.run);
        const auto anchor = reinterpret_cast<uintptr_t>(&wavelibs_kernel_manifest_anchor);
        std::printf("%s %s %s %" PRIdPTR "\n", family.name(), k.name, needs,
                    static_cast<intptr_t>(at - anchor));
    }
}

}  // namespace

int main() {
    print(wavecodec::encode_block_family);
    print(wavecodec::diff_family);
    print(wavecodec::prefix_sums_family);
    print(wavecodec::decode_line_family);
    print(ibmfloat::to_ieee_family);
    print(ibmfloat::to_ibm_family);
    print(ibmfloat::to_double_family);
    print(ibmfloat::from_double_family);
    return 0;
}
