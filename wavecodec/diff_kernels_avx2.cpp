// Second differences and their restoration with AVX2, eight samples per step; the samples after
// the last whole vector go to the portable kernels.
#include "kernels.h"

#ifdef WAVELIBS_X86_KERNELS
#include <immintrin.h>

namespace wavecodec {
namespace {

#define WAVECODEC_AVX2 __attribute__((target("avx2")))

// Running sums within a vector of eight: lane j becomes the sum of lanes 0..j. Shifts within
// each 128-bit half, then the low half's total is added to the high half.
WAVECODEC_AVX2 inline __m256i lane_prefix(__m256i v) {
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
    const __m256i totals = _mm256_shuffle_epi32(v, 0xff);  // lane 3 of each half, broadcast
    return _mm256_add_epi32(v, _mm256_permute2x128_si256(totals, totals, 0x08));
}

}  // namespace

// The inputs one and two places back come from the vector before: lanes 0..6 of the previous
// eight inputs joined with lanes of this one by a cross-half permute.
WAVECODEC_AVX2 void diff_avx2(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry) {
    const size_t done = count & ~size_t{7};
    if (done != 0) {
        const __m256i up1 = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
        const __m256i up2 = _mm256_setr_epi32(6, 7, 0, 1, 2, 3, 4, 5);
        // Lanes 6 and 7 of `before` hold the inputs two and one places before the first.
        __m256i before = _mm256_setr_epi32(0, 0, 0, 0, 0, 0, static_cast<int32_t>(carry + 2u * last),
                                           static_cast<int32_t>(last));
        for (size_t i = 0; i < done; i += 8) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + i));
            // x rotated up by one and two lanes, the wrapped lanes taken from `before`.
            const __m256i x1 = _mm256_permutevar8x32_epi32(x, up1);
            const __m256i b1 = _mm256_permutevar8x32_epi32(before, up1);
            const __m256i back1 = _mm256_blend_epi32(x1, b1, 0x01);
            const __m256i x2 = _mm256_permutevar8x32_epi32(x, up2);
            const __m256i b2 = _mm256_permutevar8x32_epi32(before, up2);
            const __m256i back2 = _mm256_blend_epi32(x2, b2, 0x03);
            const __m256i y =
                _mm256_sub_epi32(_mm256_add_epi32(x, back2), _mm256_add_epi32(back1, back1));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + i), y);
            before = x;
        }
        alignas(32) uint32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), before);
        last = lanes[7];
        carry = lanes[6] - 2u * lanes[7];
    }
    diff_portable(samples + done, count - done, last, carry);
}

WAVECODEC_AVX2 void prefix_sums_avx2(int32_t *samples, size_t count, uint32_t &first,
                                     uint32_t &second) {
    const __m256i top = _mm256_set1_epi32(7);
    __m256i f = _mm256_set1_epi32(static_cast<int32_t>(first));
    __m256i s = _mm256_set1_epi32(static_cast<int32_t>(second));
    const size_t done = count & ~size_t{7};
    for (size_t i = 0; i < done; i += 8) {
        auto *at = reinterpret_cast<__m256i *>(samples + i);
        const __m256i p = lane_prefix(_mm256_loadu_si256(at));
        const __m256i q = lane_prefix(_mm256_add_epi32(p, f));
        _mm256_storeu_si256(at, _mm256_add_epi32(q, s));
        f = _mm256_add_epi32(f, _mm256_permutevar8x32_epi32(p, top));
        s = _mm256_add_epi32(s, _mm256_permutevar8x32_epi32(q, top));
    }
    first = static_cast<uint32_t>(_mm256_cvtsi256_si32(f));
    second = static_cast<uint32_t>(_mm256_cvtsi256_si32(s));
    prefix_sums_portable(samples + done, count - done, first, second);
}

}  // namespace wavecodec

#endif
