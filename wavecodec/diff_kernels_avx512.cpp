// Second differences and their restoration with AVX-512F, sixteen samples per step; the samples
// after the last whole vector go to the portable kernels.
#include "kernels.h"

#ifdef WAVELIBS_X86_KERNELS
#include <immintrin.h>

namespace wavecodec {

// The features listed for this kernel in kernels.cpp, no more.
#define WAVECODEC_AVX512 __attribute__((target("avx2,avx512f")))

namespace {

// The zero-masking forms of the intrinsics are used throughout: the plain ones start from an
// undefined register, which g++ 12 reports as uninitialized once inlined.
constexpr __mmask16 kAll = 0xffff;

// Running sums within a vector of sixteen: lane j becomes the sum of lanes 0..j.
WAVECODEC_AVX512 inline __m512i lane_prefix(__m512i v) {
    const __m512i zero = _mm512_setzero_si512();
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 15));    // lanes moved up by 1
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 14));    // by 2
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 12));    // by 4
    return _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 8));  // by 8
}

}  // namespace

// Each vector is lined up with the one before it to get the inputs one and two places back.
WAVECODEC_AVX512 void diff_avx512(int32_t *samples, size_t count,
                                                    uint32_t &last, uint32_t &carry) {
    const size_t done = count & ~size_t{15};
    if (done != 0) {
        // Lanes 14 and 15 of `before` hold the inputs two and one places before the first.
        __m512i before = _mm512_maskz_set1_epi32(0x4000, static_cast<int32_t>(carry + 2u * last));
        before = _mm512_mask_set1_epi32(before, 0x8000, static_cast<int32_t>(last));
        for (size_t i = 0; i < done; i += 16) {
            const __m512i x = _mm512_loadu_si512(samples + i);
            const __m512i back1 = _mm512_maskz_alignr_epi32(kAll, x, before, 15);
            const __m512i back2 = _mm512_maskz_alignr_epi32(kAll, x, before, 14);
            const __m512i y =
                _mm512_sub_epi32(_mm512_add_epi32(x, back2), _mm512_add_epi32(back1, back1));
            _mm512_storeu_si512(samples + i, y);
            before = x;
        }
        alignas(64) uint32_t lanes[16];
        _mm512_store_si512(lanes, before);
        last = lanes[15];
        carry = lanes[14] - 2u * lanes[15];
    }
    diff_portable(samples + done, count - done, last, carry);
}

// The carries advance by one add per vector: the broadcasts of the vector totals are off that
// chain.
WAVECODEC_AVX512 void prefix_sums_avx512(int32_t *samples, size_t count,
                                                           uint32_t &first, uint32_t &second) {
    const __m512i top = _mm512_set1_epi32(15);
    __m512i f = _mm512_set1_epi32(static_cast<int32_t>(first));
    __m512i s = _mm512_set1_epi32(static_cast<int32_t>(second));
    const size_t done = count & ~size_t{15};
    for (size_t i = 0; i < done; i += 16) {
        const __m512i p = lane_prefix(_mm512_loadu_si512(samples + i));
        const __m512i q = lane_prefix(_mm512_add_epi32(p, f));
        _mm512_storeu_si512(samples + i, _mm512_add_epi32(q, s));
        f = _mm512_add_epi32(f, _mm512_maskz_permutexvar_epi32(kAll, top, p));
        s = _mm512_add_epi32(s, _mm512_maskz_permutexvar_epi32(kAll, top, q));
    }
    alignas(64) uint32_t lanes[16];
    _mm512_store_si512(lanes, f);
    first = lanes[0];
    _mm512_store_si512(lanes, s);
    second = lanes[0];
    prefix_sums_portable(samples + done, count - done, first, second);
}

}  // namespace wavecodec

#endif
