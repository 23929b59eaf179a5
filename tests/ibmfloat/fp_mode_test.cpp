// The conversions are integer work: the caller's rounding mode, and on x86 the flush-to-zero and
// denormals-are-zero modes, must not change any result. Words of every kind (subnormals, ties,
// zeros, the ends of the range) go through every converter under each mode.
#include <bit>
#include <cfenv>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "converters.h"
#include "reference_model.h"
#include "reference_to_double.h"
#include "reference_to_ibm.h"

namespace {

// Patterns of every kind, read as floats for ieee2ibm and as IBM words for the other two.
std::vector<uint32_t> patterns() {
    std::vector<uint32_t> out;
    for (uint32_t high : {0x00u, 0x01u, 0x1Bu, 0x1Cu, 0x20u, 0x21u, 0x3Fu, 0x41u, 0x60u, 0x61u,
                          0x7Fu, 0x80u, 0xA0u, 0xC1u, 0xFFu}) {
        for (uint32_t low : {0x000000u, 0x000001u, 0x000003u, 0x040000u, 0x0C0000u, 0x7FFFFFu,
                             0x800004u, 0x80000Cu, 0xFFFFFFu}) {
            out.push_back((high << 24) | low);
        }
    }
    return out;
}

// Runs check() under each rounding mode, and with FTZ and DAZ set where the processor has them.
template <typename Check>
void under_every_mode(Check check) {
    const int saved_rounding = std::fegetround();
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        check("rounding mode " + std::to_string(mode));
    }
    std::fesetround(saved_rounding);
#if defined(__SSE__)
    const unsigned saved_csr = _mm_getcsr();
    _mm_setcsr(saved_csr | 0x8040u);  // flush to zero (bit 15), denormals are zero (bit 6)
    check("FTZ and DAZ");
    _mm_setcsr(saved_csr);
#endif
}

TEST(FloatingPointModes, DoNotChangeAnyResult) {
    const std::vector<uint32_t> input = patterns();
    under_every_mode([&](const std::string &mode) {
        for (const Converter &c : available_converters()) {
            std::vector<uint32_t> w = input;
            c.run(w.data(), w.size());
            for (size_t i = 0; i < w.size(); ++i) {
                EXPECT_EQ(w[i], reference_ibm_to_ieee(input[i]))
                    << c.name << ", " << mode << std::hex << ", word 0x" << input[i];
            }
        }
        for (const ToIbmConverter &c : available_to_ibm_converters()) {
            std::vector<uint32_t> w = input;
            c.run(w.data(), w.size());
            for (size_t i = 0; i < w.size(); ++i) {
                EXPECT_EQ(w[i], reference_float_to_ibm(input[i]))
                    << c.name << ", " << mode << std::hex << ", float bits 0x" << input[i];
            }
        }
        for (const ToDoubleConverter &c : available_to_double_converters()) {
            std::vector<double> out(input.size());
            c.run(input.data(), out.data(), input.size());
            for (size_t i = 0; i < out.size(); ++i) {
                EXPECT_EQ(std::bit_cast<uint64_t>(out[i]), reference_ibm_to_double(input[i]))
                    << c.name << ", " << mode << std::hex << ", word 0x" << input[i];
            }
        }
    });
}

}  // namespace
