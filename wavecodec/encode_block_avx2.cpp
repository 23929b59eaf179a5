// The block encoder with AVX2: eight samples per step. Each sample gets a 64-bit lane holding its
// magnitude in 10-bit groups, its sign and its number of characters; the digits are spread into
// bytes, reversed by a byte shuffle, mapped to the alphabet by a 16-entry shuffle, and each pair
// of lanes is packed by a second shuffle into one 16-byte store.
#include "kernels.h"
#include "sixbit_code.h"

#ifdef WAVECODEC_X86_KERNELS
#include <immintrin.h>

namespace wavecodec {
namespace {

#define WAVECODEC_AVX2 __attribute__((target("avx2")))

// Bytes of a sample's lane, as built below: 0-1 the low 10-bit group of the magnitude, 2-3 the
// middle one, 4-5 the high one, 6 the sign (16 or 0), 7 the characters after the first (0 to 5).
// Returns its characters, most significant first from byte 0, and filler after them.
WAVECODEC_AVX2 inline __m256i lane_chars(__m256i q) {
    // The six five-bit digits, least significant in byte 0 (bytes 6 and 7 cleared).
    const __m256i digits = _mm256_or_si256(
        _mm256_and_si256(q, _mm256_set1_epi64x(0x001f001f001f)),
        _mm256_and_si256(_mm256_slli_epi64(q, 3), _mm256_set1_epi64x(0x1f001f001f00)));
    // Byte i takes digit rest - i: the shuffle index rest - i, negative (a zero byte) past rest,
    // plus 8 in the upper lane of each 128-bit half.
    const __m256i rest = _mm256_shuffle_epi8(
        q, _mm256_setr_epi64x(0x0707070707070707, 0x0f0f0f0f0f0f0f0f, 0x0707070707070707,
                              0x0f0f0f0f0f0f0f0f));
    const __m256i from = _mm256_sub_epi8(rest, _mm256_set1_epi64x(0x0706050403020100));
    __m256i w = _mm256_shuffle_epi8(
        digits, _mm256_or_si256(from, _mm256_setr_epi64x(0, 0x0808080808080808, 0,
                                                           0x0808080808080808)));
    // "Another follows" on bytes 0 .. rest - 1; the sign, from byte 6, on byte 0.
    const __m256i more = _mm256_cmpgt_epi8(from, _mm256_setzero_si256());
    w = _mm256_or_si256(w, _mm256_and_si256(more, _mm256_set1_epi8(32)));
    const __m256i sign = _mm256_shuffle_epi8(
        q, _mm256_setr_epi64x(static_cast<int64_t>(0x8080808080808006ull),
                              static_cast<int64_t>(0x808080808080800eull),
                              static_cast<int64_t>(0x8080808080808006ull),
                              static_cast<int64_t>(0x808080808080800eull)));
    w = _mm256_or_si256(w, sign);
    // Code value to character: the alphabet runs "+", "-", "0".."9", "A".."Z", "a".."z", at
    // offsets 43, 44, 46, 53, 59 from the value. Index min(value, 12), 13 from 38 on.
    const __m256i offsets = _mm256_setr_epi8(43, 44, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 53, 59,
                                             0, 0, 43, 44, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46,
                                             53, 59, 0, 0);
    const __m256i index = _mm256_sub_epi8(_mm256_min_epu8(w, _mm256_set1_epi8(12)),
                                          _mm256_cmpgt_epi8(w, _mm256_set1_epi8(37)));
    return _mm256_add_epi8(w, _mm256_shuffle_epi8(offsets, index));
}

// Packs the two lanes of each 128-bit half: the first lane's 1 + rest characters, then the
// second lane's from byte 1 + rest on. `q` as for lane_chars.
WAVECODEC_AVX2 inline __m256i pack_pairs(__m256i chars, __m256i q) {
    const __m256i first_rest = _mm256_shuffle_epi8(q, _mm256_set1_epi8(7));
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
        const __m256i m = _mm256_min_epu32(_mm256_abs_epi32(x), max_magnitude);
        // Characters after the first: one for each of 2^4, 2^9, 2^14, 2^19, 2^24 reached.
        __m256i rest = _mm256_setzero_si256();
        for (int bits = 4; bits <= 24; bits += 5) {
            rest = _mm256_sub_epi32(rest, _mm256_cmpgt_epi32(m, _mm256_set1_epi32((1 << bits) - 1)));
        }
        // Low 32 bits of each lane: the low and middle groups; high 32: the high group, the sign
        // and rest. Unpacking pairs them as lanes of samples 0, 1, 4, 5 and 2, 3, 6, 7.
        const __m256i low = _mm256_or_si256(
            _mm256_and_si256(m, _mm256_set1_epi32(0x3ff)),
            _mm256_and_si256(_mm256_slli_epi32(m, 6), _mm256_set1_epi32(0x3ff0000)));
        const __m256i high = _mm256_or_si256(
            _mm256_or_si256(_mm256_srli_epi32(m, 20),
                            _mm256_slli_epi32(_mm256_srli_epi32(x, 31), 20)),
            _mm256_slli_epi32(rest, 24));
        const __m256i q0145 = _mm256_unpacklo_epi32(low, high);
        const __m256i q2367 = _mm256_unpackhi_epi32(low, high);
        const __m256i p0145 = pack_pairs(lane_chars(q0145), q0145);
        const __m256i p2367 = pack_pairs(lane_chars(q2367), q2367);
        // Characters of each pair: rest of both plus two, in the low half of each 64-bit lane.
        alignas(32) uint64_t pairs[4];
        _mm256_store_si256(reinterpret_cast<__m256i *>(pairs),
                           _mm256_add_epi32(rest, _mm256_srli_epi64(rest, 32)));

        store16(out + used, _mm256_castsi256_si128(p0145));
        used += static_cast<uint32_t>(pairs[0]) + 2;
        store16(out + used, _mm256_castsi256_si128(p2367));
        used += static_cast<uint32_t>(pairs[1]) + 2;
        store16(out + used, _mm256_extracti128_si256(p0145, 1));
        used += static_cast<uint32_t>(pairs[2]) + 2;
        store16(out + used, _mm256_extracti128_si256(p2367, 1));
        used += static_cast<uint32_t>(pairs[3]) + 2;
    }
    for (int i = groups; i < count; ++i) {
        used += encode_sample_wide(samples[i], out + used);
    }
    return used;
}

}  // namespace wavecodec

#endif
