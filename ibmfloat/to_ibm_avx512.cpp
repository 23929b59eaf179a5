// The AVX-512 ieee2ibm kernel, sixteen words per step: the steps of to_ibm_word for all lanes at
// once, subnormals, zeros, infinities and NaNs merged by mask registers. The last partial step
// uses masked loads and stores. Built only for x86; run only when the CPU has AVX-512F.
#if defined(__x86_64__) || defined(__i386__)

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

#include <bit>

#include "kernels.h"
#include "to_ibm_word.h"

namespace ibmfloat {
namespace {

__attribute__((target("avx512f"))) inline __m512i convert16(__m512i f, __mmask16 &no_value) {
    const __m512i mantissa_mask = _mm512_set1_epi32(static_cast<int>(kFloatMantissaMask));
    const __m512i exponent =
        _mm512_and_si512(_mm512_srli_epi32(f, 23), _mm512_set1_epi32(kFloatExponentMask));
    const __m512i mantissa = _mm512_and_si512(f, mantissa_mask);

    // Subnormals: the integer mantissa as a float gives the normalised significand (see
    // to_ibm_word).
    const __m512i as_float = _mm512_castps_si512(_mm512_cvtepi32_ps(mantissa));
    const __mmask16 subnormal = _mm512_testn_epi32_mask(exponent, exponent);
    const __m512i b =
        _mm512_mask_sub_epi32(_mm512_add_epi32(exponent, _mm512_set1_epi32(33)), subnormal,
                              _mm512_srli_epi32(as_float, 23), _mm512_set1_epi32(116));
    const __m512i significand =
        _mm512_or_si512(_mm512_mask_and_epi32(mantissa, subnormal, as_float, mantissa_mask),
                        _mm512_set1_epi32(static_cast<int>(kFloatHiddenBit)));

    // The fraction: significand * 2^k / 8 rounded to nearest, ties to even.
    const __m512i scaled =
        _mm512_sllv_epi32(significand, _mm512_and_si512(b, _mm512_set1_epi32(3)));
    const __m512i odd = _mm512_and_si512(_mm512_srli_epi32(scaled, 3), _mm512_set1_epi32(1));
    const __m512i fraction =
        _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(scaled, _mm512_set1_epi32(3)), odd), 3);
    // (25 + b / 4) << 24
    const __m512i field = _mm512_add_epi32(_mm512_slli_epi32(_mm512_srli_epi32(b, 2), 24),
                                           _mm512_set1_epi32(25 << 24));
    __m512i result = _mm512_or_si512(field, fraction);

    const __m512i magnitude_mask = _mm512_set1_epi32(0x7fffffff);
    const __mmask16 nonzero = _mm512_test_epi32_mask(f, magnitude_mask);
    no_value = _mm512_cmpeq_epi32_mask(exponent, _mm512_set1_epi32(kFloatExponentMask));
    result = _mm512_maskz_mov_epi32(nonzero, result);
    result = _mm512_mask_mov_epi32(result, no_value, magnitude_mask);
    // The float's sign bit over the magnitude, in one bitwise select.
    return _mm512_ternarylogic_epi32(result, f, _mm512_set1_epi32(static_cast<int>(kIbmSignBit)),
                                     0xd8);
}

}  // namespace

__attribute__((target("avx512f"))) size_t to_ibm_avx512(uint32_t *words, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    __mmask16 lanes = 0;
    for (; count - i >= 16; i += 16) {
        uint32_t *p = words + i;
        _mm512_storeu_si512(p, convert16(_mm512_loadu_si512(p), lanes));
        no_value += static_cast<size_t>(std::popcount(static_cast<unsigned>(lanes)));
    }
    if (i < count) {
        const __mmask16 tail = static_cast<__mmask16>((1u << (count - i)) - 1u);
        uint32_t *p = words + i;
        _mm512_mask_storeu_epi32(p, tail, convert16(_mm512_maskz_loadu_epi32(tail, p), lanes));
        no_value += static_cast<size_t>(std::popcount(static_cast<unsigned>(lanes & tail)));
    }
    return no_value;
}

}  // namespace ibmfloat

#endif
