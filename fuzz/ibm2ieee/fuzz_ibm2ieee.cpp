// Fuzz target: ibm2ieee, and each conversion kernel the processor can run, against an exact
// integer model of the conversion.
//
// Input: one byte choosing the count passed (all words, or zero or a negative count, which must
// change nothing) and where the words start, then the words (4 bytes each, host byte order).
#include "../common/check.h"
#include "../common/input.h"
#include "ibmfloat.h"
#include "kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The IEEE single nearest to sign x fraction x 2^(4 * (exponent - 64) - 24), ties to even,
// infinity past the largest float. Worked in integers only.
uint32_t model(uint32_t w) {
    const uint32_t sign = w & 0x80000000u;
    const uint64_t fraction = w & 0x00ffffffu;
    if (fraction == 0) {
        return sign;
    }
    const int e = 4 * static_cast<int>((w >> 24) & 0x7fu) - 256 - 24;  // value = fraction * 2^e
    const int length = static_cast<int>(std::bit_width(fraction));  // 1 to 24
    const int top = e + length - 1;  // 2^top <= value < 2^(top + 1)
    if (top > 127) {
        return sign | 0x7f800000u;
    }
    if (top >= -126) {
        // Normal: the fraction fits the 24-bit significand exactly.
        const uint64_t significand = fraction << (24 - length);
        return sign | (static_cast<uint32_t>(top + 127) << 23) |
               (static_cast<uint32_t>(significand) & 0x007fffffu);
    }
    // Subnormal: the value in units of 2^-149, rounded to nearest, ties to even. A carry into
    // bit 23 gives the smallest normal, which the same bits encode.
    const int shift = -(e + 149);
    if (shift <= 0) {
        return sign | static_cast<uint32_t>(fraction << -shift);
    }
    if (shift > 40) {
        return sign;  // below a quarter of the smallest subnormal
    }
    const uint64_t units = fraction >> shift;
    const uint64_t rest = fraction - (units << shift);
    const uint64_t half = uint64_t{1} << (shift - 1);
    const uint64_t rounded = units + ((rest > half || (rest == half && (units & 1u))) ? 1u : 0u);
    return sign | static_cast<uint32_t>(rounded);
}

// A second opinion for the model: the exact value in double, rounded once to float.
uint32_t by_double(uint32_t w) {
    const double magnitude = std::ldexp(static_cast<double>(w & 0x00ffffffu),
                                        4 * static_cast<int>((w >> 24) & 0x7fu) - 256 - 24);
    const float f = static_cast<float>((w & 0x80000000u) ? -magnitude : magnitude);
    return std::bit_cast<uint32_t>(f);
}

// Converts `original` with `convert` at `offset` words into a buffer that ends exactly where the
// words do, and checks every word against the model and the words before it for changes.
template <typename Convert>
void check_conversion(const std::vector<uint32_t> &original, size_t offset, Convert convert,
                      const char *name) {
    std::vector<uint32_t> buffer(offset + original.size(), 0xdeadbeefu);
    std::copy(original.begin(), original.end(), buffer.begin() + static_cast<long>(offset));
    convert(buffer.data() + offset, original.size());
    for (size_t i = 0; i < offset; ++i) {
        FUZZ_CHECK(buffer[i] == 0xdeadbeefu, "%s wrote before its words", name);
    }
    for (size_t i = 0; i < original.size(); ++i) {
        const uint32_t expected = model(original[i]);
        FUZZ_CHECK(expected == by_double(original[i]), "the model is wrong for %08x",
                   original[i]);
        FUZZ_CHECK(buffer[offset + i] == expected, "%s: %08x converted to %08x, expected %08x",
                   name, original[i], buffer[offset + i], expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    std::vector<uint32_t> words(in.size() / 4);
    if (!words.empty()) {
        std::memcpy(words.data(), in.data(), words.size() * 4);
    }

    if (mode % 8 == 7) {
        // Zero or a negative count converts nothing.
        const std::vector<uint32_t> original = words;
        ibm2ieee(words.data(), -static_cast<int>(mode >> 3));
        FUZZ_CHECK(words == original, "a count of %d changed the array", -(mode >> 3));
        return 0;
    }
    // Words start at any position relative to the vector width.
    const size_t offset = (mode >> 3) % 16;
    check_conversion(
        words, offset,
        [](uint32_t *w, size_t n) { ibm2ieee(w, static_cast<int>(n)); }, "ibm2ieee");
    // Each kernel this processor can run, directly: the public entry uses only the fastest.
    for (const auto &kernel : ibmfloat::to_ieee_family.kernels()) {
        if (cpu::usable(kernel)) {
            check_conversion(words, offset, kernel.run, kernel.name);
        }
    }
    return 0;
}
