// The AVX2 kernel, eight words per step. When all eight exponent fields lie in the always-normal
// range (nearly always, for real data) the short form suffices; otherwise every case (normal,
// subnormal, overflow, zero) is computed without branches and merged by masks.
// Built only for x86; run only when the CPU has AVX2.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

#include <immintrin.h>

#include "convert_word.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX2 __attribute__((target("avx2")))

namespace {

IBMFLOAT_AVX2 inline __m256i exponent_field(__m256i w) {
    return _mm256_and_si256(_mm256_srli_epi32(w, 24), _mm256_set1_epi32(0x7f));
}

IBMFLOAT_AVX2 inline bool all_in_fast_range(__m256i exponent) {
    const __m256i offset =
        _mm256_sub_epi32(exponent, _mm256_set1_epi32(static_cast<int>(kFastExponentMin)));
    const __m256i span = _mm256_set1_epi32(static_cast<int>(kFastExponentSpan));
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(offset, span), offset)) == -1;
}

// The short form (see convert_fast): exact when every exponent field is in the fast range.
IBMFLOAT_AVX2 inline __m256i convert8_fast(__m256i w, __m256i exponent) {
    const __m256i fraction = _mm256_and_si256(w, _mm256_set1_epi32(0x00ffffff));
    const __m256i as_float = _mm256_castps_si256(_mm256_cvtepi32_ps(fraction));
    const __m256i scale = _mm256_sub_epi32(_mm256_slli_epi32(exponent, 25),
                                           _mm256_set1_epi32(static_cast<int>(280u << 23)));
    const __m256i zero = _mm256_cmpeq_epi32(fraction, _mm256_setzero_si256());
    const __m256i magnitude = _mm256_add_epi32(as_float, _mm256_andnot_si256(zero, scale));
    return _mm256_or_si256(magnitude,
                           _mm256_and_si256(w, _mm256_set1_epi32(static_cast<int>(kSignBit))));
}

IBMFLOAT_AVX2 inline __m256i convert8(__m256i w, __m256i exponent) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i fraction = _mm256_and_si256(w, _mm256_set1_epi32(0x00ffffff));
    const __m256i sign = _mm256_and_si256(w, _mm256_set1_epi32(static_cast<int>(kSignBit)));

    // The fraction as a float (exact: at most 24 bits), then scaled by 2^(4e - 280).
    const __m256i as_float = _mm256_castps_si256(_mm256_cvtepi32_ps(fraction));
    const __m256i scale = _mm256_sub_epi32(_mm256_slli_epi32(exponent, 2), _mm256_set1_epi32(280));
    const __m256i biased = _mm256_add_epi32(_mm256_srli_epi32(as_float, 23), scale);
    const __m256i normal = _mm256_add_epi32(as_float, _mm256_slli_epi32(scale, 23));

    // Subnormal results: the 24-bit significand shifted right by 1 - biased (at most 26, which
    // already gives zero), rounded to nearest, ties to even.
    const __m256i significand = _mm256_or_si256(
        _mm256_and_si256(as_float, _mm256_set1_epi32(0x007fffff)), _mm256_set1_epi32(0x00800000));
    const __m256i shift = _mm256_min_epi32(_mm256_sub_epi32(one, biased), _mm256_set1_epi32(26));
    const __m256i below_half =
        _mm256_sub_epi32(_mm256_sllv_epi32(one, _mm256_sub_epi32(shift, one)), one);
    const __m256i odd = _mm256_and_si256(_mm256_srlv_epi32(significand, shift), one);
    const __m256i subnormal =
        _mm256_srlv_epi32(_mm256_add_epi32(_mm256_add_epi32(significand, below_half), odd), shift);

    __m256i result = _mm256_blendv_epi8(normal, subnormal, _mm256_cmpgt_epi32(one, biased));
    result = _mm256_blendv_epi8(result, _mm256_set1_epi32(static_cast<int>(kInfinity)),
                                _mm256_cmpgt_epi32(biased, _mm256_set1_epi32(254)));
    result = _mm256_andnot_si256(_mm256_cmpeq_epi32(fraction, _mm256_setzero_si256()), result);
    return _mm256_or_si256(result, sign);
}

}  // namespace

IBMFLOAT_AVX2 void convert_avx2(uint32_t *words, size_t count) {
    size_t i = 0;
    for (; count - i >= 8; i += 8) {
        __m256i *p = reinterpret_cast<__m256i *>(words + i);
        const __m256i w = _mm256_loadu_si256(p);
        const __m256i exponent = exponent_field(w);
        _mm256_storeu_si256(
            p, all_in_fast_range(exponent) ? convert8_fast(w, exponent) : convert8(w, exponent));
    }
    for (; i < count; ++i) {
        words[i] = convert_word(words[i]);
    }
}

}  // namespace ibmfloat

#endif
