// The AVX2 ibm2double kernel, eight words per step in two halves of four doubles: each 24-bit
// fraction converts to a double exactly and the exponent field is then moved by 4e - 280 (see
// to_double_word.h). Built only for x86; run only when the CPU has AVX2.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

#include <immintrin.h>

#include <cstring>

#include "to_double_word.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX2 __attribute__((target("avx2")))

namespace {

IBMFLOAT_AVX2 inline __m256d convert4(__m128i w) {
    const __m128i fraction = _mm_and_si128(w, _mm_set1_epi32(0x00ffffff));
    const __m256i as_double = _mm256_castpd_si256(_mm256_cvtepi32_pd(fraction));
    const __m256i wide = _mm256_cvtepu32_epi64(w);
    // (4e - 280) << 52, wrapping, added only where the fraction is not zero.
    const __m256i scale = _mm256_sub_epi64(
        _mm256_slli_epi64(_mm256_and_si256(_mm256_srli_epi64(wide, 24), _mm256_set1_epi64x(0x7f)),
                          54),
        _mm256_set1_epi64x(int64_t{280} << 52));
    const __m256i zero = _mm256_cmpeq_epi64(as_double, _mm256_setzero_si256());
    const __m256i magnitude = _mm256_add_epi64(as_double, _mm256_andnot_si256(zero, scale));
    const __m256i sign = _mm256_slli_epi64(
        _mm256_and_si256(wide, _mm256_set1_epi64x(static_cast<int64_t>(0x80000000u))), 32);
    return _mm256_castsi256_pd(_mm256_or_si256(magnitude, sign));
}

}  // namespace

IBMFLOAT_AVX2 void to_double_avx2(const uint32_t *words, double *out,
                                                    size_t count) {
    size_t i = 0;
    for (; count - i >= 8; i += 8) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(words + i));
        _mm256_storeu_pd(out + i, convert4(_mm256_castsi256_si128(w)));
        _mm256_storeu_pd(out + i + 4, convert4(_mm256_extracti128_si256(w, 1)));
    }
    for (; i < count; ++i) {
        const uint64_t bits = to_double_bits(words[i]);
        std::memcpy(&out[i], &bits, sizeof bits);
    }
}

}  // namespace ibmfloat

#endif
