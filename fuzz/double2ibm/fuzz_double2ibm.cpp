// Fuzz target: double2ibm, and each of its kernels the processor can run, against the exact
// integer model (tests/support/reference_from_double.h), on arbitrary doubles.
//
// Input: one byte choosing the count passed (all doubles, or zero or a negative count, which must
// write nothing) and where the doubles and words start, then the doubles (8 bytes each, host byte
// order).
#include "../common/check.h"
#include "../common/input.h"
#include "ibmfloat.h"
#include "kernels.h"
#include "reference_from_double.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Converts `in` with `convert` at `offset` into an output that ends exactly where the words do
// (with a guard before them), and checks every word and the count against the model.
template <typename Convert>
void check_conversion(const std::vector<uint64_t> &in, size_t offset, Convert convert,
                      const char *name) {
    std::vector<double> doubles(offset + in.size());
    if (!in.empty()) {
        std::memcpy(doubles.data() + offset, in.data(), in.size() * sizeof(double));
    }
    std::vector<uint32_t> out(offset + in.size(), 0xdeadbeefu);
    const size_t no_value = convert(doubles.data() + offset, out.data() + offset, in.size());
    for (size_t i = 0; i < offset; ++i) {
        FUZZ_CHECK(out[i] == 0xdeadbeefu, "%s wrote before its words", name);
    }
    size_t expected_no_value = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const ReferenceIbm want = reference_double_to_ibm(in[i]);
        expected_no_value += want.no_value ? 1u : 0u;
        FUZZ_CHECK(out[offset + i] == want.word, "%s: %016llx converted to %08x, expected %08x",
                   name, static_cast<unsigned long long>(in[i]), out[offset + i], want.word);
    }
    FUZZ_CHECK(no_value == expected_no_value, "%s counted %zu without an IBM value, expected %zu",
               name, no_value, expected_no_value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    std::vector<uint64_t> doubles(in.size() / 8);
    if (!doubles.empty()) {
        std::memcpy(doubles.data(), in.data(), doubles.size() * 8);
    }

    if (mode % 8 == 7) {
        // Zero or a negative count writes nothing and counts nothing.
        std::vector<double> values(doubles.size() + 1);
        if (!doubles.empty()) {
            std::memcpy(values.data(), doubles.data(), doubles.size() * 8);
        }
        std::vector<uint32_t> out(values.size(), 0xdeadbeefu);
        const int count = -static_cast<int>(mode >> 3);
        FUZZ_CHECK(double2ibm(values.data(), out.data(), count) == 0, "a count of %d counted",
                   count);
        for (uint32_t w : out) {
            FUZZ_CHECK(w == 0xdeadbeefu, "a count of %d wrote a word", count);
        }
        return 0;
    }
    const size_t offset = (mode >> 3) % 16;
    check_conversion(
        doubles, offset,
        [](const double *d, uint32_t *w, size_t n) {
            return static_cast<size_t>(double2ibm(d, w, static_cast<int>(n)));
        },
        "double2ibm");
    for (const auto &kernel : ibmfloat::from_double_family.kernels()) {
        if (cpu::usable(kernel)) {
            check_conversion(doubles, offset, kernel.run, kernel.name);
        }
    }
    return 0;
}
