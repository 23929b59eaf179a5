// The AVX2 ieee2ibm kernel, eight words per step: the steps of to_ibm_word for all lanes at once,
// subnormals, zeros, infinities and NaNs merged by masks. Built only for x86; run only when the
// CPU has AVX2.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <bit>

#include "kernels.h"
#include "to_ibm_word.h"

namespace ibmfloat {
namespace {

struct Converted {
    __m256i words;
    __m256i no_value;  // all ones in lanes without an IBM value
};

__attribute__((target("avx2"))) inline Converted convert8(__m256i f) {
    const __m256i mantissa_mask = _mm256_set1_epi32(static_cast<int>(kFloatMantissaMask));
    const __m256i exponent =
        _mm256_and_si256(_mm256_srli_epi32(f, 23), _mm256_set1_epi32(kFloatExponentMask));
    const __m256i mantissa = _mm256_and_si256(f, mantissa_mask);

    // Subnormals: the integer mantissa as a float gives the normalised significand (see
    // to_ibm_word).
    const __m256i as_float = _mm256_castps_si256(_mm256_cvtepi32_ps(mantissa));
    const __m256i subnormal = _mm256_cmpeq_epi32(exponent, _mm256_setzero_si256());
    const __m256i b = _mm256_blendv_epi8(
        _mm256_add_epi32(exponent, _mm256_set1_epi32(33)),
        _mm256_sub_epi32(_mm256_srli_epi32(as_float, 23), _mm256_set1_epi32(116)), subnormal);
    const __m256i significand = _mm256_or_si256(
        _mm256_blendv_epi8(mantissa, _mm256_and_si256(as_float, mantissa_mask), subnormal),
        _mm256_set1_epi32(static_cast<int>(kFloatHiddenBit)));

    // The fraction: significand * 2^k / 8 rounded to nearest, ties to even.
    const __m256i scaled =
        _mm256_sllv_epi32(significand, _mm256_and_si256(b, _mm256_set1_epi32(3)));
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi32(scaled, 3), _mm256_set1_epi32(1));
    const __m256i fraction =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(scaled, _mm256_set1_epi32(3)), odd), 3);
    // (25 + b / 4) << 24
    const __m256i field = _mm256_add_epi32(_mm256_slli_epi32(_mm256_srli_epi32(b, 2), 24),
                                           _mm256_set1_epi32(25 << 24));
    __m256i result = _mm256_or_si256(field, fraction);

    const __m256i magnitude = _mm256_and_si256(f, _mm256_set1_epi32(0x7fffffff));
    const __m256i zero = _mm256_cmpeq_epi32(magnitude, _mm256_setzero_si256());
    const __m256i no_value = _mm256_cmpeq_epi32(exponent, _mm256_set1_epi32(kFloatExponentMask));
    result = _mm256_andnot_si256(zero, result);
    result = _mm256_or_si256(result, no_value);  // all ones below the sign: 0x7fffffff
    const __m256i sign = _mm256_and_si256(f, _mm256_set1_epi32(static_cast<int>(kIbmSignBit)));
    return {_mm256_or_si256(_mm256_and_si256(result, _mm256_set1_epi32(0x7fffffff)), sign),
            no_value};
}

}  // namespace

__attribute__((target("avx2"))) size_t to_ibm_avx2(uint32_t *words, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    for (; count - i >= 8; i += 8) {
        __m256i *p = reinterpret_cast<__m256i *>(words + i);
        const Converted c = convert8(_mm256_loadu_si256(p));
        _mm256_storeu_si256(p, c.words);
        const auto lanes =
            static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(c.no_value)));
        no_value += static_cast<size_t>(std::popcount(lanes));
    }
    for (; i < count; ++i) {
        no_value += has_no_ibm_value(words[i]) ? 1u : 0u;
        words[i] = to_ibm_word(words[i]);
    }
    return no_value;
}

}  // namespace ibmfloat

#endif
