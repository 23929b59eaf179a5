// The AVX-512 ieee2ibm kernel, sixteen words per step: the steps of to_ibm_word for all lanes at
// once. When all sixteen are normal floats (nearly always, for real data) that is the whole
// conversion; otherwise subnormals, zeros, infinities and NaNs are merged by mask registers. The
// last partial step uses masked loads and stores. Built only for x86; run only when the CPU has
// AVX-512F.
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

#include <bit>

#include "to_ibm_word.h"

namespace ibmfloat {

// The features listed for this kernel in kernels.cpp, no more.
#define IBMFLOAT_AVX512 __attribute__((target("avx2,popcnt,avx512f")))

namespace {

// The field b + 100 of to_ibm_word: then the IBM exponent field is c / 4 and k is c % 4.
constexpr int kFieldOffset = 133;                 // biased float exponent + 33 + 100
constexpr int kSubnormalFieldOffset = 116 - 100;  // subtracted from the exponent of as_float

IBMFLOAT_AVX512 inline __m512i exponent_field(__m512i f) {
    return _mm512_and_si512(_mm512_srli_epi32(f, 23), _mm512_set1_epi32(kFloatExponentMask));
}

// The IBM exponent field and fraction, from c (see kFieldOffset) and the 24-bit significand: the
// fraction is significand * 2^k / 8 rounded to nearest, ties to even.
IBMFLOAT_AVX512 inline __m512i ibm_magnitude(__m512i c, __m512i significand) {
    const __m512i scaled =
        _mm512_sllv_epi32(significand, _mm512_and_si512(c, _mm512_set1_epi32(3)));
    const __m512i odd = _mm512_and_si512(_mm512_srli_epi32(scaled, 3), _mm512_set1_epi32(1));
    const __m512i fraction =
        _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(scaled, _mm512_set1_epi32(3)), odd), 3);
    const __m512i field = _mm512_slli_epi32(_mm512_andnot_si512(_mm512_set1_epi32(3), c), 22);
    return _mm512_or_si512(field, fraction);
}

// The float's sign bit over the magnitude, in one bitwise select.
IBMFLOAT_AVX512 inline __m512i with_sign_of(__m512i magnitude, __m512i f) {
    return _mm512_ternarylogic_epi32(magnitude, f, _mm512_set1_epi32(static_cast<int>(kIbmSignBit)),
                                     0xd8);
}

IBMFLOAT_AVX512 inline bool all_normal(__m512i exponent) {
    return _mm512_cmple_epu32_mask(_mm512_sub_epi32(exponent, _mm512_set1_epi32(1)),
                                   _mm512_set1_epi32(253)) == 0xffff;
}

// Exact when every lane holds a normal float.
IBMFLOAT_AVX512 inline __m512i convert16_normal(__m512i f, __m512i exponent) {
    const __m512i c = _mm512_add_epi32(exponent, _mm512_set1_epi32(kFieldOffset));
    // (f & mantissa mask) | hidden bit, in one bitwise operation.
    const __m512i significand =
        _mm512_ternarylogic_epi32(f, _mm512_set1_epi32(static_cast<int>(kFloatMantissaMask)),
                                  _mm512_set1_epi32(static_cast<int>(kFloatHiddenBit)), 0xea);
    return with_sign_of(ibm_magnitude(c, significand), f);
}

// Exact for every lane: subnormals, zeros, infinities and NaNs merged by mask registers.
IBMFLOAT_AVX512 inline __m512i convert16(__m512i f, __m512i exponent,
                                                            __mmask16 &no_value) {
    const __m512i mantissa_mask = _mm512_set1_epi32(static_cast<int>(kFloatMantissaMask));
    const __m512i mantissa = _mm512_and_si512(f, mantissa_mask);

    // Subnormals: the integer mantissa as a float gives the normalised significand (see
    // to_ibm_word).
    const __m512i as_float = _mm512_castps_si512(_mm512_cvtepi32_ps(mantissa));
    const __mmask16 subnormal = _mm512_testn_epi32_mask(exponent, exponent);
    const __m512i c = _mm512_mask_sub_epi32(
        _mm512_add_epi32(exponent, _mm512_set1_epi32(kFieldOffset)), subnormal,
        _mm512_srli_epi32(as_float, 23), _mm512_set1_epi32(kSubnormalFieldOffset));
    const __m512i significand =
        _mm512_or_si512(_mm512_mask_and_epi32(mantissa, subnormal, as_float, mantissa_mask),
                        _mm512_set1_epi32(static_cast<int>(kFloatHiddenBit)));
    __m512i result = ibm_magnitude(c, significand);

    const __m512i magnitude_mask = _mm512_set1_epi32(0x7fffffff);
    const __mmask16 nonzero = _mm512_test_epi32_mask(f, magnitude_mask);
    no_value = _mm512_cmpeq_epi32_mask(exponent, _mm512_set1_epi32(kFloatExponentMask));
    result = _mm512_maskz_mov_epi32(nonzero, result);
    result = _mm512_mask_mov_epi32(result, no_value, magnitude_mask);
    return with_sign_of(result, f);
}

}  // namespace

IBMFLOAT_AVX512 size_t to_ibm_avx512(uint32_t *words, size_t count) {
    size_t no_value = 0;
    size_t i = 0;
    __mmask16 lanes = 0;
    for (; count - i >= 16; i += 16) {
        uint32_t *p = words + i;
        const __m512i f = _mm512_loadu_si512(p);
        const __m512i exponent = exponent_field(f);
        if (all_normal(exponent)) {
            _mm512_storeu_si512(p, convert16_normal(f, exponent));
        } else {
            _mm512_storeu_si512(p, convert16(f, exponent, lanes));
            no_value += static_cast<size_t>(std::popcount(static_cast<unsigned>(lanes)));
        }
    }
    if (i < count) {
        const __mmask16 tail = static_cast<__mmask16>((1u << (count - i)) - 1u);
        uint32_t *p = words + i;
        const __m512i f = _mm512_maskz_loadu_epi32(tail, p);
        _mm512_mask_storeu_epi32(p, tail, convert16(f, exponent_field(f), lanes));
        no_value += static_cast<size_t>(std::popcount(static_cast<unsigned>(lanes & tail)));
    }
    return no_value;
}

}  // namespace ibmfloat

#endif
