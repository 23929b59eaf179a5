// The AVX-512 ibm2double kernel, sixteen words per step in two halves of eight doubles: each
// 24-bit fraction converts to a double exactly and the exponent field is then moved by 4e - 280
// (see to_double_word.h). The last partial step uses masked loads and stores. Built only for
// x86; run only when the CPU has AVX-512F.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

// GCC 12 warns inside its own AVX-512 intrinsics, whose "undefined" placeholder vectors are
// self-initialised on purpose; the warning is silenced for that header only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif


namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX512 __attribute__((target("avx2,avx512f")))

namespace {

IBMFLOAT_AVX512 inline __m512d convert8(__m256i w) {
    const __m256i fraction = _mm256_and_si256(w, _mm256_set1_epi32(0x00ffffff));
    const __m512i as_double = _mm512_castpd_si512(_mm512_cvtepi32_pd(fraction));
    const __m512i wide = _mm512_cvtepu32_epi64(w);
    // (4e - 280) << 52, wrapping, added only where the fraction is not zero.
    const __m512i scale = _mm512_sub_epi64(
        _mm512_slli_epi64(_mm512_and_si512(_mm512_srli_epi64(wide, 24), _mm512_set1_epi64(0x7f)),
                          54),
        _mm512_set1_epi64(int64_t{280} << 52));
    const __mmask8 nonzero = _mm512_test_epi64_mask(as_double, as_double);
    const __m512i magnitude = _mm512_mask_add_epi64(as_double, nonzero, as_double, scale);
    const __m512i sign = _mm512_slli_epi64(
        _mm512_and_si512(wide, _mm512_set1_epi64(static_cast<int64_t>(0x80000000u))), 32);
    return _mm512_castsi512_pd(_mm512_or_si512(magnitude, sign));
}

}  // namespace

IBMFLOAT_AVX512 void to_double_avx512(const uint32_t *words, double *out,
                                                         size_t count) {
    size_t i = 0;
    for (; count - i >= 16; i += 16) {
        const __m512i w = _mm512_loadu_si512(words + i);
        _mm512_storeu_pd(out + i, convert8(_mm512_castsi512_si256(w)));
        _mm512_storeu_pd(out + i + 8, convert8(_mm512_extracti64x4_epi64(w, 1)));
    }
    if (i < count) {
        const auto rest = static_cast<unsigned>(count - i);  // 1..15
        const __mmask16 tail = static_cast<__mmask16>((1u << rest) - 1u);
        const __m512i w = _mm512_maskz_loadu_epi32(tail, words + i);
        _mm512_mask_storeu_pd(out + i, static_cast<__mmask8>(tail),
                              convert8(_mm512_castsi512_si256(w)));
        if (rest > 8) {
            _mm512_mask_storeu_pd(out + i + 8, static_cast<__mmask8>(tail >> 8),
                                  convert8(_mm512_extracti64x4_epi64(w, 1)));
        }
    }
}

}  // namespace ibmfloat

#endif
