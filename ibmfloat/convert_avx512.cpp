// The AVX-512 kernel, sixteen words per step. When all sixteen exponent fields lie in the
// always-normal range the short form suffices; otherwise every case is computed and merged by
// mask registers. The last partial step uses masked loads and stores.
// Built only for x86; run only when the CPU has AVX-512F.
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

#include "convert_word.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX512 __attribute__((target("avx2,avx512f")))

namespace {

IBMFLOAT_AVX512 inline __m512i exponent_field(__m512i w) {
    return _mm512_and_si512(_mm512_srli_epi32(w, 24), _mm512_set1_epi32(0x7f));
}

// The word's sign bit over a magnitude whose sign bit is clear, in one bitwise select.
IBMFLOAT_AVX512 inline __m512i with_sign_of(__m512i magnitude, __m512i w) {
    return _mm512_ternarylogic_epi32(magnitude, w, _mm512_set1_epi32(static_cast<int>(kSignBit)),
                                     0xd8);
}

IBMFLOAT_AVX512 inline bool all_in_fast_range(__m512i exponent) {
    const __m512i offset =
        _mm512_sub_epi32(exponent, _mm512_set1_epi32(static_cast<int>(kFastExponentMin)));
    return _mm512_cmple_epu32_mask(
               offset, _mm512_set1_epi32(static_cast<int>(kFastExponentSpan))) == 0xffff;
}

// The short form (see convert_fast): exact when every exponent field is in the fast range.
IBMFLOAT_AVX512 inline __m512i convert16_fast(__m512i w, __m512i exponent) {
    const __m512i fraction = _mm512_and_si512(w, _mm512_set1_epi32(0x00ffffff));
    const __m512i as_float = _mm512_castps_si512(_mm512_cvtepi32_ps(fraction));
    const __m512i scale = _mm512_sub_epi32(_mm512_slli_epi32(exponent, 25),
                                           _mm512_set1_epi32(static_cast<int>(280u << 23)));
    const __mmask16 nonzero = _mm512_test_epi32_mask(fraction, fraction);
    const __m512i magnitude = _mm512_mask_add_epi32(as_float, nonzero, as_float, scale);
    return with_sign_of(magnitude, w);
}

IBMFLOAT_AVX512 inline __m512i convert16(__m512i w, __m512i exponent) {
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i fraction = _mm512_and_si512(w, _mm512_set1_epi32(0x00ffffff));

    // The fraction as a float (exact: at most 24 bits), then scaled by 2^(4e - 280).
    const __m512i as_float = _mm512_castps_si512(_mm512_cvtepi32_ps(fraction));
    const __m512i scale = _mm512_sub_epi32(_mm512_slli_epi32(exponent, 2), _mm512_set1_epi32(280));
    const __m512i biased = _mm512_add_epi32(_mm512_srli_epi32(as_float, 23), scale);
    const __m512i normal = _mm512_add_epi32(as_float, _mm512_slli_epi32(scale, 23));

    // Subnormal results: the 24-bit significand shifted right by 1 - biased (at most 26, which
    // already gives zero), rounded to nearest, ties to even.
    const __m512i significand = _mm512_or_si512(
        _mm512_and_si512(as_float, _mm512_set1_epi32(0x007fffff)), _mm512_set1_epi32(0x00800000));
    const __m512i shift = _mm512_min_epi32(_mm512_sub_epi32(one, biased), _mm512_set1_epi32(26));
    const __m512i below_half =
        _mm512_sub_epi32(_mm512_sllv_epi32(one, _mm512_sub_epi32(shift, one)), one);
    const __m512i odd = _mm512_and_si512(_mm512_srlv_epi32(significand, shift), one);
    const __m512i subnormal =
        _mm512_srlv_epi32(_mm512_add_epi32(_mm512_add_epi32(significand, below_half), odd), shift);

    const __mmask16 is_subnormal = _mm512_cmplt_epi32_mask(biased, one);
    const __mmask16 is_infinite = _mm512_cmpgt_epi32_mask(biased, _mm512_set1_epi32(254));
    const __mmask16 is_nonzero = _mm512_test_epi32_mask(fraction, fraction);
    __m512i result = _mm512_mask_blend_epi32(is_subnormal, normal, subnormal);
    result = _mm512_mask_blend_epi32(is_infinite, result,
                                     _mm512_set1_epi32(static_cast<int>(kInfinity)));
    result = _mm512_maskz_mov_epi32(is_nonzero, result);
    return with_sign_of(result, w);
}

}  // namespace

IBMFLOAT_AVX512 void convert_avx512(uint32_t *words, size_t count) {
    size_t i = 0;
    for (; count - i >= 16; i += 16) {
        uint32_t *p = words + i;
        const __m512i w = _mm512_loadu_si512(p);
        const __m512i exponent = exponent_field(w);
        _mm512_storeu_si512(
            p, all_in_fast_range(exponent) ? convert16_fast(w, exponent) : convert16(w, exponent));
    }
    if (i < count) {
        const __mmask16 tail = static_cast<__mmask16>((1u << (count - i)) - 1u);
        uint32_t *p = words + i;
        const __m512i w = _mm512_maskz_loadu_epi32(tail, p);
        _mm512_mask_storeu_epi32(p, tail, convert16(w, exponent_field(w)));
    }
}

}  // namespace ibmfloat

#endif
