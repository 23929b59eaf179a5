// The block encoder with AVX2: eight samples per step. Each sample's characters are built in a
// 64-bit lane as the portable encoder builds them in a word (digits spread into bytes, reversed
// by a byte shuffle, then mapped to the alphabet by compares), and each pair of lanes is packed
// by a second shuffle into one 16-byte store.
#include "kernels.h"
#include "sixbit_code.h"

#ifdef WAVECODEC_X86_KERNELS
#include <immintrin.h>

namespace wavecodec {
namespace {

#define WAVECODEC_AVX2 __attribute__((target("avx2")))

// `step` in the bytes of w above `value`, 0 in the others.
WAVECODEC_AVX2 inline __m256i step_above(__m256i w, char value, char step) {
    return _mm256_and_si256(_mm256_cmpgt_epi8(w, _mm256_set1_epi8(value)), _mm256_set1_epi8(step));
}

// The characters of four samples, one per 64-bit lane, most significant first from byte 0, and
// filler after them: `m` the magnitudes, `rest` the characters after the first, `sign` 16 for a
// negative sample (all three in 64-bit lanes).
WAVECODEC_AVX2 inline __m256i lane_chars(__m256i m, __m256i rest, __m256i sign) {
    // The six five-bit digits, least significant in byte 0: 10-bit groups in 16-bit fields,
    // then each group into two bytes.
    const __m256i groups = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(m, _mm256_set1_epi64x(0x3ff)),
                        _mm256_slli_epi64(_mm256_and_si256(m, _mm256_set1_epi64x(0xffc00)), 6)),
        _mm256_slli_epi64(_mm256_and_si256(m, _mm256_set1_epi64x(0x3ff00000)), 12));
    const __m256i digits = _mm256_or_si256(
        _mm256_and_si256(groups, _mm256_set1_epi64x(0x001f001f001f)),
        _mm256_and_si256(_mm256_slli_epi64(groups, 3), _mm256_set1_epi64x(0x1f001f001f00)));
    // Byte i takes digit rest - i: the shuffle index rest - i, negative (zero byte) past rest,
    // plus 8 in the upper lane of each 128-bit half.
    const __m256i spread = _mm256_setr_epi64x(0, 0x0808080808080808, 0, 0x0808080808080808);
    const __m256i index = _mm256_set1_epi64x(0x0706050403020100);
    const __m256i upper = _mm256_setr_epi64x(0, 0x0808080808080808, 0, 0x0808080808080808);
    const __m256i from = _mm256_sub_epi8(_mm256_shuffle_epi8(rest, spread), index);
    __m256i w = _mm256_shuffle_epi8(digits, _mm256_or_si256(from, upper));
    // "Another follows" on bytes 0 .. rest - 1, the sign on byte 0.
    const __m256i more = _mm256_cmpgt_epi8(from, _mm256_setzero_si256());
    w = _mm256_or_si256(w, _mm256_and_si256(more, _mm256_set1_epi8(32)));
    w = _mm256_or_si256(w, sign);
    // Code value to character: the alphabet runs "+", "-", "0".."9", "A".."Z", "a".."z", at
    // offsets 43, 44, 46, 53, 59 from the value.
    const __m256i offset = _mm256_add_epi8(
        _mm256_add_epi8(_mm256_set1_epi8(43), step_above(w, 0, 1)),
        _mm256_add_epi8(step_above(w, 1, 2),
                        _mm256_add_epi8(step_above(w, 11, 7), step_above(w, 37, 6))));
    return _mm256_add_epi8(w, offset);
}

// Packs the two lanes of each 128-bit half: the first lane's 1 + rest characters, then the
// second lane's from byte 1 + rest on.
WAVECODEC_AVX2 inline __m256i pack_pairs(__m256i chars, __m256i rest) {
    const __m256i first_rest = _mm256_shuffle_epi8(rest, _mm256_setzero_si256());
    const __m256i j = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1,
                                       2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // Byte j past the first lane's characters takes byte j - (1 + rest) + 8.
    const __m256i past = _mm256_cmpgt_epi8(j, first_rest);
    const __m256i skip = _mm256_sub_epi8(_mm256_set1_epi8(7), first_rest);
    return _mm256_shuffle_epi8(chars, _mm256_add_epi8(j, _mm256_and_si256(past, skip)));
}

WAVECODEC_AVX2 inline void store16(char *out, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
}

}  // namespace

WAVECODEC_AVX2 size_t encode_block_avx2(const int32_t *samples, int count, char *out) {
    const __m256i max_magnitude = _mm256_set1_epi32(static_cast<int32_t>(kMaxMagnitude));
    size_t used = 0;
    const int groups = count & ~7;
    for (int i = 0; i < groups; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + i));
        const __m256i magnitude = _mm256_min_epu32(_mm256_abs_epi32(x), max_magnitude);
        // Characters after the first: one for each of 2^4, 2^9, 2^14, 2^19, 2^24 reached.
        __m256i rest = _mm256_setzero_si256();
        for (int bits = 4; bits <= 24; bits += 5) {
            rest = _mm256_sub_epi32(
                rest, _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32((1 << bits) - 1)));
        }
        const __m256i sign = _mm256_slli_epi32(_mm256_srli_epi32(x, 31), 4);
        alignas(32) uint32_t rests[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(rests), rest);

        const __m256i rest_low = _mm256_cvtepu32_epi64(_mm256_castsi256_si128(rest));
        const __m256i low = pack_pairs(
            lane_chars(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(magnitude)), rest_low,
                       _mm256_cvtepu32_epi64(_mm256_castsi256_si128(sign))),
            rest_low);
        const __m256i rest_high = _mm256_cvtepu32_epi64(_mm256_extracti128_si256(rest, 1));
        const __m256i high = pack_pairs(
            lane_chars(_mm256_cvtepu32_epi64(_mm256_extracti128_si256(magnitude, 1)), rest_high,
                       _mm256_cvtepu32_epi64(_mm256_extracti128_si256(sign, 1))),
            rest_high);

        store16(out + used, _mm256_castsi256_si128(low));
        used += rests[0] + rests[1] + 2;
        store16(out + used, _mm256_extracti128_si256(low, 1));
        used += rests[2] + rests[3] + 2;
        store16(out + used, _mm256_castsi256_si128(high));
        used += rests[4] + rests[5] + 2;
        store16(out + used, _mm256_extracti128_si256(high, 1));
        used += rests[6] + rests[7] + 2;
    }
    for (int i = groups; i < count; ++i) {
        used += encode_sample_wide(samples[i], out + used);
    }
    return used;
}

}  // namespace wavecodec

#endif
