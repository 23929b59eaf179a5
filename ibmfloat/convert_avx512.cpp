// The AVX-512 kernel: sixteen words per step, cases merged by mask registers; the last partial
// step uses masked loads and stores. Built only for x86; run only when the CPU has AVX-512F.
#if defined(__x86_64__) || defined(__i386__)

// GCC 12 warns inside its own AVX-512 intrinsics, whose "undefined" placeholder vectors are
// self-initialised on purpose; the warning is silenced for that header only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "convert_word.h"
#include "kernels.h"

namespace ibmfloat {
namespace {

__attribute__((target("avx512f"))) inline __m512i convert16(__m512i w) {
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i fraction = _mm512_and_si512(w, _mm512_set1_epi32(0x00ffffff));
    const __m512i exponent = _mm512_and_si512(_mm512_srli_epi32(w, 24), _mm512_set1_epi32(0x7f));

    // The fraction as a float (exact: at most 24 bits), then scaled by 2^(4e - 280).
    const __m512i as_float = _mm512_castps_si512(_mm512_cvtepi32_ps(fraction));
    const __m512i scale = _mm512_sub_epi32(_mm512_slli_epi32(exponent, 2), _mm512_set1_epi32(280));
    const __m512i biased = _mm512_add_epi32(_mm512_srli_epi32(as_float, 23), scale);
    const __m512i normal = _mm512_add_epi32(as_float, _mm512_slli_epi32(scale, 23));

    // Subnormal results: the 24-bit significand shifted right by 1 - biased (at most 26, which
    // already gives zero), rounded to nearest, ties to even.
    const __m512i significand = _mm512_or_si512(_mm512_and_si512(as_float, _mm512_set1_epi32(0x007fffff)),
                                                _mm512_set1_epi32(0x00800000));
    const __m512i shift = _mm512_min_epi32(_mm512_sub_epi32(one, biased), _mm512_set1_epi32(26));
    const __m512i below_half = _mm512_sub_epi32(_mm512_sllv_epi32(one, _mm512_sub_epi32(shift, one)), one);
    const __m512i odd = _mm512_and_si512(_mm512_srlv_epi32(significand, shift), one);
    const __m512i subnormal =
        _mm512_srlv_epi32(_mm512_add_epi32(_mm512_add_epi32(significand, below_half), odd), shift);

    const __mmask16 is_subnormal = _mm512_cmplt_epi32_mask(biased, one);
    const __mmask16 is_infinite = _mm512_cmpgt_epi32_mask(biased, _mm512_set1_epi32(254));
    const __mmask16 is_nonzero = _mm512_test_epi32_mask(fraction, fraction);
    __m512i result = _mm512_mask_blend_epi32(is_subnormal, normal, subnormal);
    result = _mm512_mask_blend_epi32(is_infinite, result, _mm512_set1_epi32(static_cast<int>(kInfinity)));
    result = _mm512_maskz_mov_epi32(is_nonzero, result);
    // Sign bit from the word, all else from the result.
    return _mm512_ternarylogic_epi32(result, w, _mm512_set1_epi32(static_cast<int>(kSignBit)), 0xd8);
}

}  // namespace

__attribute__((target("avx512f"))) void convert_avx512(uint32_t *words, size_t count) {
    size_t i = 0;
    for (; count - i >= 16; i += 16) {
        uint32_t *p = words + i;
        _mm512_storeu_si512(p, convert16(_mm512_loadu_si512(p)));
    }
    if (i < count) {
        const __mmask16 tail = static_cast<__mmask16>((1u << (count - i)) - 1u);
        uint32_t *p = words + i;
        _mm512_mask_storeu_epi32(p, tail, convert16(_mm512_maskz_loadu_epi32(tail, p)));
    }
}

}  // namespace ibmfloat

#endif
