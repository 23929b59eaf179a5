// The block encoder with AVX-512: eight samples per step, the characters of each built in one
// 64-bit lane and the filler bytes squeezed out with a byte compress (VBMI2).
#include "kernels.h"
#include "sixbit_code.h"

#ifdef WAVELIBS_X86_KERNELS
#if defined(__GNUC__) && !defined(__clang__)
// g++ 12 reports the undefined start register inside many AVX-512 intrinsics as uninitialized
// once they are inlined; the warning is about the intrinsics' own code, not this file's.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

namespace wavecodec {
namespace {

#define WAVECODEC_AVX512_ENCODER                                                            \
    __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512cd,avx512vbmi,avx512vbmi2," \
                          "popcnt")))

// Eight samples per step, one per 64-bit lane, the characters in the lane's bytes as the 64-bit
// encoder lays them out; then the filler bytes are squeezed out. Returns the characters written
// for the first `count & ~7` samples; each step stores 64 bytes.
WAVECODEC_AVX512_ENCODER size_t encode_groups(const int32_t *samples, int count, char *out) {
    const __m512i alphabet = _mm512_loadu_si512(kCode);
    const __m256i max_magnitude = _mm256_set1_epi32(static_cast<int32_t>(kMaxMagnitude));
    // Byte i of every lane: i, and 5 * i (the shift of the digit i places below the first).
    const __m512i index = _mm512_set1_epi64(0x0706050403020100);
    const __m512i fives = _mm512_set1_epi64(0x231e19140f0a0500);
    // Spreads byte 0 of each lane to all eight of its bytes.
    const __m512i spread = _mm512_set_epi64(
        0x0808080808080808, 0x0000000000000000, 0x0808080808080808, 0x0000000000000000,
        0x0808080808080808, 0x0000000000000000, 0x0808080808080808, 0x0000000000000000);
    const __m512i more = _mm512_set1_epi64(0x202020202020);
    const __m512i low5 = _mm512_set1_epi8(0x1f);

    size_t used = 0;
    const int groups = count & ~7;
    for (int i = 0; i < groups; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(samples + i));
        const __m256i magnitude = _mm256_min_epu32(_mm256_abs_epi32(x), max_magnitude);
        // rest = bit length / 5 = (bit length * 13) >> 6 for lengths up to 27
        const __m256i bits = _mm256_sub_epi32(_mm256_set1_epi32(32), _mm256_lzcnt_epi32(magnitude));
        const __m256i rest = _mm256_srli_epi32(_mm256_mullo_epi32(bits, _mm256_set1_epi32(13)), 6);

        const __m512i m = _mm512_cvtepu32_epi64(magnitude);
        const __m512i rest64 = _mm512_cvtepu32_epi64(rest);
        const __m512i rest_bytes = _mm512_shuffle_epi8(rest64, spread);
        // Byte i takes the digit at bit 5 * (rest - i); bytes past rest get filler.
        const __m512i shift = _mm512_sub_epi8(
            _mm512_shuffle_epi8(
                _mm512_cvtepu32_epi64(_mm256_mullo_epi32(rest, _mm256_set1_epi32(5))), spread),
            fives);
        __m512i w = _mm512_and_si512(_mm512_multishift_epi64_epi8(shift, m), low5);
        // "Another follows" on bytes 0 .. rest - 1, the sign on byte 0.
        const __m512i rest_shift =
            _mm512_slli_epi64(_mm512_sub_epi64(_mm512_set1_epi64(6), rest64), 3);
        w = _mm512_or_si512(w, _mm512_srlv_epi64(more, rest_shift));
        w = _mm512_or_si512(w,
                            _mm512_cvtepu32_epi64(_mm256_slli_epi32(_mm256_srli_epi32(x, 31), 4)));

        const __m512i chars = _mm512_permutexvar_epi8(w, alphabet);
        const __mmask64 keep = _mm512_cmple_epu8_mask(index, rest_bytes);
        _mm512_storeu_si512(out + used, _mm512_maskz_compress_epi8(keep, chars));
        used += static_cast<size_t>(_mm_popcnt_u64(keep));
    }
    return used;
}

}  // namespace

WAVECODEC_AVX512_ENCODER size_t encode_block_avx512(const int32_t *samples, int count, char *out) {
    size_t used = encode_groups(samples, count, out);
    for (int i = count & ~7; i < count; ++i) {
        used += encode_sample_wide(samples[i], out + used);
    }
    return used;
}

}  // namespace wavecodec

#endif
