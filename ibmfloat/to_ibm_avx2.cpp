// The AVX2 ieee2ibm kernel, eight words per step: the steps of to_ibm_word for all lanes at once.
// When all eight are normal floats (nearly always, for real data) that is the whole conversion;
// otherwise subnormals, zeros, infinities and NaNs are merged by masks. Built only for x86; run
// only when the CPU has AVX2.
#include "kernels.h"
#ifdef WAVELIBS_X86_KERNELS

#include <immintrin.h>

#include <bit>

#include "to_ibm_word.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX2 __attribute__((target("avx2,popcnt")))

namespace {

// The field b + 100 of to_ibm_word: then the IBM exponent field is c / 4 and k is c % 4.
constexpr int kFieldOffset = 133;                 // biased float exponent + 33 + 100
constexpr int kSubnormalFieldOffset = 116 - 100;  // subtracted from the exponent of as_float

IBMFLOAT_AVX2 inline __m256i exponent_field(__m256i f) {
    return _mm256_and_si256(_mm256_srli_epi32(f, 23), _mm256_set1_epi32(kFloatExponentMask));
}

// The IBM exponent field and fraction, from c (see kFieldOffset) and the 24-bit significand: the
// fraction is significand * 2^k / 8 rounded to nearest, ties to even.
IBMFLOAT_AVX2 inline __m256i ibm_magnitude(__m256i c, __m256i significand) {
    const __m256i scaled =
        _mm256_sllv_epi32(significand, _mm256_and_si256(c, _mm256_set1_epi32(3)));
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi32(scaled, 3), _mm256_set1_epi32(1));
    const __m256i fraction =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(scaled, _mm256_set1_epi32(3)), odd), 3);
    const __m256i field = _mm256_slli_epi32(_mm256_andnot_si256(_mm256_set1_epi32(3), c), 22);
    return _mm256_or_si256(field, fraction);
}

IBMFLOAT_AVX2 inline __m256i sign_of(__m256i f) {
    return _mm256_and_si256(f, _mm256_set1_epi32(static_cast<int>(kIbmSignBit)));
}

IBMFLOAT_AVX2 inline bool all_normal(__m256i exponent) {
    const __m256i offset = _mm256_sub_epi32(exponent, _mm256_set1_epi32(1));
    const __m256i span = _mm256_set1_epi32(253);
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(offset, span), offset)) == -1;
}

// Exact when every lane holds a normal float.
IBMFLOAT_AVX2 inline __m256i convert8_normal(__m256i f, __m256i exponent) {
    const __m256i c = _mm256_add_epi32(exponent, _mm256_set1_epi32(kFieldOffset));
    const __m256i significand = _mm256_or_si256(
        _mm256_and_si256(f, _mm256_set1_epi32(static_cast<int>(kFloatMantissaMask))),
        _mm256_set1_epi32(static_cast<int>(kFloatHiddenBit)));
    return _mm256_or_si256(ibm_magnitude(c, significand), sign_of(f));
}

// Exact for every lane: subnormals, zeros, infinities and NaNs merged by masks. Lanes without an
// IBM value are all ones in no_value.
IBMFLOAT_AVX2 inline __m256i convert8(__m256i f, __m256i exponent,
                                                        __m256i &no_value) {
    const __m256i mantissa_mask = _mm256_set1_epi32(static_cast<int>(kFloatMantissaMask));
    const __m256i mantissa = _mm256_and_si256(f, mantissa_mask);

    // Subnormals: the integer mantissa as a float gives the normalised significand (see
    // to_ibm_word).
    const __m256i as_float = _mm256_castps_si256(_mm256_cvtepi32_ps(mantissa));
    const __m256i subnormal = _mm256_cmpeq_epi32(exponent, _mm256_setzero_si256());
    const __m256i c = _mm256_blendv_epi8(
        _mm256_add_epi32(exponent, _mm256_set1_epi32(kFieldOffset)),
        _mm256_sub_epi32(_mm256_srli_epi32(as_float, 23), _mm256_set1_epi32(kSubnormalFieldOffset)),
        subnormal);
    const __m256i significand = _mm256_or_si256(
        _mm256_blendv_epi8(mantissa, _mm256_and_si256(as_float, mantissa_mask), subnormal),
        _mm256_set1_epi32(static_cast<int>(kFloatHiddenBit)));
    __m256i result = ibm_magnitude(c, significand);

    const __m256i magnitude_mask = _mm256_set1_epi32(0x7fffffff);
    const __m256i zero =
        _mm256_cmpeq_epi32(_mm256_and_si256(f, magnitude_mask), _mm256_setzero_si256());
    no_value = _mm256_cmpeq_epi32(exponent, _mm256_set1_epi32(kFloatExponentMask));
    result = _mm256_andnot_si256(zero, result);
    result = _mm256_and_si256(_mm256_or_si256(result, no_value), magnitude_mask);
    return _mm256_or_si256(result, sign_of(f));
}

}  // namespace

IBMFLOAT_AVX2 size_t to_ibm_avx2(uint32_t *words, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    for (; count - i >= 8; i += 8) {
        __m256i *p = reinterpret_cast<__m256i *>(words + i);
        const __m256i f = _mm256_loadu_si256(p);
        const __m256i exponent = exponent_field(f);
        if (all_normal(exponent)) {
            _mm256_storeu_si256(p, convert8_normal(f, exponent));
        } else {
            __m256i lanes;
            _mm256_storeu_si256(p, convert8(f, exponent, lanes));
            const auto mask = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(lanes)));
            no_value += static_cast<size_t>(std::popcount(mask));
        }
    }
    for (; i < count; ++i) {
        no_value += has_no_ibm_value(words[i]) ? 1u : 0u;
        words[i] = to_ibm_word(words[i]);
    }
    return no_value;
}

}  // namespace ibmfloat

#endif
