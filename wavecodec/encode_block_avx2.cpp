// The block encoder with AVX2: eight samples per step, no per-sample arithmetic. Each sample's
// characters are built in one 64-bit lane: the six five-bit digits of the magnitude are cut out
// by one byte shuffle and two 16-bit multiplies, a variable shift moves the first character to
// byte 0, where the sign goes in as bit 4. A 16-entry shuffle maps code values to the alphabet,
// and each lane is stored as 8 bytes that the next sample's store overwrites past its
// characters. The bit lengths come from float exponents, the offsets of the stores from one
// integer multiply per four samples.
#include "kernels.h"
#include "sixbit_code.h"

#ifdef WAVELIBS_X86_KERNELS
#include <immintrin.h>

namespace wavecodec {
namespace {

#define WAVECODEC_AVX2 __attribute__((target("avx2")))

// Characters after the first (bit length / 5) of magnitudes below 2^27. The bit length comes
// from the float exponent of magnitude >> 3, which is exact (below 2^24) and loses only lengths
// under 4, all of which take one character: length = exponent - 123, or 0 for zero. Then
// length / 5 = (length * 13) >> 6 for lengths up to 27, taken as the high half of a 16-bit
// product.
WAVECODEC_AVX2 inline __m256i characters_after_first(__m256i magnitude) {
    const __m256 scaled = _mm256_cvtepi32_ps(_mm256_srli_epi32(magnitude, 3));
    const __m256i exponent = _mm256_srli_epi32(_mm256_castps_si256(scaled), 23);
    const __m256i length = _mm256_subs_epu16(exponent, _mm256_set1_epi32(123));
    return _mm256_mulhi_epu16(length, _mm256_set1_epi32(13 << 10));
}

// From 32-bit lanes of magnitudes (below 2^30), the 64-bit lanes of two of each 128-bit half's
// samples (`pick`): bytes 2 to 7 the six digits, most significant first, each with "another
// follows" except the last. Words 1, 2, 3 of a lane take the
// magnitude's bits 16-31, 8-23 and 0-15, whose digit pairs sit at bits 9 and 4, 7 and 2, 5 and
// 0; the high product brings the first digit of each pair to bit 0, the low one the second to
// bit 8.
WAVECODEC_AVX2 inline __m256i digit_lanes(__m256i magnitude, __m256i pick) {
    const __m256i words = _mm256_shuffle_epi8(magnitude, pick);
    const __m256i high = _mm256_mulhi_epu16(words, _mm256_set1_epi64x(0x0800020000800000));
    const __m256i low = _mm256_mullo_epi16(words, _mm256_set1_epi64x(0x0100004000100000));
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(high, _mm256_set1_epi16(0x001f)),
                        _mm256_and_si256(low, _mm256_set1_epi16(0x1f00))),
        _mm256_set1_epi64x(0x0020202020200000));
}

// Code value to character: the alphabet runs "+", "-", "0".."9", "A".."Z", "a".."z", at offsets
// 43, 44, 46, 53, 59 from the value. Index min(value, 12), 13 from 38 on.
WAVECODEC_AVX2 inline __m256i to_alphabet(__m256i w) {
    const __m256i offsets = _mm256_setr_epi8(43, 44, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 53, 59,
                                             0, 0, 43, 44, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46,
                                             53, 59, 0, 0);
    const __m256i index = _mm256_sub_epi8(_mm256_min_epu8(w, _mm256_set1_epi8(12)),
                                          _mm256_cmpgt_epi8(w, _mm256_set1_epi8(37)));
    return _mm256_add_epi8(w, _mm256_shuffle_epi8(offsets, index));
}

// Stores of the low and the high 8 bytes of a vector, straight from the vector register.
WAVECODEC_AVX2 inline void store_low(char *out, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v);
}
WAVECODEC_AVX2 inline void store_high(char *out, __m128i v) {
    _mm_storeh_pi(reinterpret_cast<__m64 *>(out), _mm_castsi128_ps(v));
}

}  // namespace

WAVECODEC_AVX2 size_t encode_block_avx2(const int32_t *samples, int count, char *out) {
    const __m256i max_magnitude = _mm256_set1_epi32(static_cast<int32_t>(kMaxMagnitude));
    // Bytes of the words of digit_lanes from 32-bit lanes 0 and 1 of each half, and 2 and 3.
    const __m256i pick_first = _mm256_setr_epi8(
        -128, -128, 2, 3, 1, 2, 0, 1, -128, -128, 6, 7, 5, 6, 4, 5,
        -128, -128, 2, 3, 1, 2, 0, 1, -128, -128, 6, 7, 5, 6, 4, 5);
    const __m256i pick_second = _mm256_setr_epi8(
        -128, -128, 10, 11, 9, 10, 8, 9, -128, -128, 14, 15, 13, 14, 12, 13,
        -128, -128, 10, 11, 9, 10, 8, 9, -128, -128, 14, 15, 13, 14, 12, 13);
    size_t used = 0;
    const int groups = count & ~7;
    for (int i = 0; i < groups; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + i));
        const __m256i magnitude = _mm256_min_epu32(_mm256_abs_epi32(x), max_magnitude);
        const __m256i rest = characters_after_first(magnitude);
        // Lanes of samples 0, 1, 4, 5 and 2, 3, 6, 7; the first character, at byte 7 - rest,
        // shifted down to byte 0, where the sign is added as its bit 4 (a free bit, as its
        // digit has four bits of magnitude).
        const __m256i drop = _mm256_sub_epi32(_mm256_set1_epi32(56), _mm256_slli_epi32(rest, 3));
        const __m256i zero = _mm256_setzero_si256();
        const __m256i sign = _mm256_and_si256(_mm256_srai_epi32(x, 31), _mm256_set1_epi32(16));
        const __m256i first = to_alphabet(_mm256_or_si256(
            _mm256_srlv_epi64(digit_lanes(magnitude, pick_first), _mm256_unpacklo_epi32(drop, zero)),
            _mm256_unpacklo_epi32(sign, zero)));
        const __m256i second = to_alphabet(_mm256_or_si256(
            _mm256_srlv_epi64(digit_lanes(magnitude, pick_second),
                              _mm256_unpackhi_epi32(drop, zero)),
            _mm256_unpackhi_epi32(sign, zero)));

        // The characters after the first of samples 0-3 and 4-7 as bytes of two integers.
        // Multiplying by 0x01010101 sums each byte into the bytes above it (no sum exceeds 20),
        // so k plus byte k - 1 of the product is where sample k starts.
        const __m256i rest_bytes = _mm256_shuffle_epi8(
            rest, _mm256_setr_epi32(0x0c080400, -1, -1, -1, 0x0c080400, -1, -1, -1));
        const uint32_t low_sums =
            static_cast<uint32_t>(_mm256_cvtsi256_si32(rest_bytes)) * 0x01010101u;
        const uint32_t high_sums = static_cast<uint32_t>(_mm_cvtsi128_si32(
                                       _mm256_extracti128_si256(rest_bytes, 1))) *
                                   0x01010101u;
        const uint32_t low = (low_sums << 8) + 0x03020100u;
        const uint32_t high = (high_sums << 8) + 0x03020100u;

        const __m128i lanes01 = _mm256_castsi256_si128(first);
        const __m128i lanes45 = _mm256_extracti128_si256(first, 1);
        const __m128i lanes23 = _mm256_castsi256_si128(second);
        const __m128i lanes67 = _mm256_extracti128_si256(second, 1);
        char *o = out + used;
        store_low(o + (low & 0xff), lanes01);
        store_high(o + ((low >> 8) & 0xff), lanes01);
        store_low(o + ((low >> 16) & 0xff), lanes23);
        store_high(o + (low >> 24), lanes23);
        o += (low_sums >> 24) + 4;
        store_low(o + (high & 0xff), lanes45);
        store_high(o + ((high >> 8) & 0xff), lanes45);
        store_low(o + ((high >> 16) & 0xff), lanes67);
        store_high(o + (high >> 24), lanes67);
        used += (low_sums >> 24) + (high_sums >> 24) + 8;
    }
    for (int i = groups; i < count; ++i) {
        used += encode_sample_wide(samples[i], out + used);
    }
    return used;
}

}  // namespace wavecodec

#endif
