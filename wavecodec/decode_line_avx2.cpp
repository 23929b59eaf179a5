// The AVX2 line kernel: the 80 columns in three 32-byte vectors, translated to code values by
// nibble look-ups and classified (text end, sample end) by compares and masks; then the shared
// sample assembly.
#include "line_values.h"

#ifdef WAVELIBS_X86_KERNELS
#include <immintrin.h>

#include <bit>
#include <cstring>

namespace wavecodec {

namespace {

#define WAVECODEC_AVX2 __attribute__((target("avx2,bmi,popcnt")))  // as listed in kernels.cpp

// 16-entry tables, repeated in both halves for vpshufb.
WAVECODEC_AVX2 inline __m256i table16(int8_t e0, int8_t e1, int8_t e2, int8_t e3, int8_t e4,
                                      int8_t e5, int8_t e6, int8_t e7, int8_t e8, int8_t e9,
                                      int8_t e10, int8_t e11, int8_t e12, int8_t e13, int8_t e14,
                                      int8_t e15) {
    const __m128i t =
        _mm_setr_epi8(e0, e1, e2, e3, e4, e5, e6, e7, e8, e9, e10, e11, e12, e13, e14, e15);
    return _mm256_broadcastsi128_si256(t);
}

// The alphabet by the high and low nibble of a character's low seven bits. Four classes, one
// bit each, of (high nibble, low nibbles) that are code: 1 = "+" and "-" (2, b and d);
// 2 = digits (3, 0-9); 4 = "A"-"O" and "a"-"o" (4 and 6, 1-f); 8 = "P"-"Z" and "p"-"z" (5 and 7,
// 0-a). A character is code when the class bits of its two nibbles meet.
struct Alphabet {
    __m256i low_classes;
    __m256i high_classes;
    __m256i offsets;  // added to the character to give its value, by high nibble
};

WAVECODEC_AVX2 inline Alphabet alphabet() {
    return {table16(0x0a, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0c, 0x05, 0x04,
                    0x05, 0x04, 0x04),
            table16(0, 0, 1, 2, 4, 8, 4, 8, 0, 0, 0, 0, 0, 0, 0, 0),
            table16(0, 0, -0x2b, -0x2e, -0x35, -0x35, -0x3b, -0x3b, 0, 0, 0, 0, 0, 0, 0, 0)};
}

struct Columns {
    uint32_t text_end;  // NUL or white space
    uint32_t more;      // "another follows": bit 5 of the value
};

WAVECODEC_AVX2 inline Columns translate(const Alphabet &a, const char *line, uint8_t *out) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line));
    // NUL, blank, and \t \n \v \f \r (9 to 13).
    const __m256i from_tab = _mm256_sub_epi8(c, _mm256_set1_epi8(9));
    const __m256i control =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8(4)), from_tab);
    const __m256i end =
        _mm256_or_si256(control, _mm256_or_si256(_mm256_cmpeq_epi8(c, _mm256_setzero_si256()),
                                                 _mm256_cmpeq_epi8(c, _mm256_set1_epi8(' '))));

    const __m256i low7 = _mm256_and_si256(c, _mm256_set1_epi8(0x7f));
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(low7, 4), nibble);
    const __m256i low = _mm256_and_si256(low7, nibble);
    const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(a.low_classes, low),
                                             _mm256_shuffle_epi8(a.high_classes, high));
    const __m256i other = _mm256_cmpeq_epi8(classes, _mm256_setzero_si256());
    __m256i value = _mm256_add_epi8(low7, _mm256_shuffle_epi8(a.offsets, high));
    // "-" is 0x2d, two above "+": one less.
    value = _mm256_add_epi8(value, _mm256_cmpeq_epi8(low7, _mm256_set1_epi8('-')));
    value = _mm256_andnot_si256(other, value);  // every other character reads as 0
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), value);
    return {static_cast<uint32_t>(_mm256_movemask_epi8(end)),
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(value, 2)))};
}

WAVECODEC_AVX2 void line_values_avx2(const char *line, LineValues &values) {
    const Alphabet a = alphabet();
    const Columns c0 = translate(a, line, values.value());
    const Columns c1 = translate(a, line + 32, values.value() + 32);
    const Columns c2 = translate(a, line + 64, values.value() + 64);
    const uint64_t end_low = c0.text_end | (uint64_t{c1.text_end} << 32);
    const uint64_t end_high = (c2.text_end & 0xffffu) | 0x10000u;  // column 80 ends the text
    const int length = end_low != 0 ? std::countr_zero(end_low) : 64 + std::countr_zero(end_high);
    values.length = length;
    const uint64_t low_text = length >= 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1u;
    const uint64_t high_text = length <= 64 ? 0 : (uint64_t{1} << (length - 64)) - 1u;
    values.ends[0] = ~(c0.more | (uint64_t{c1.more} << 32)) & low_text;
    values.ends[1] = ~uint64_t{c2.more} & high_text;
    std::memset(values.bytes, 0, 8);
}

// The eight bytes at p, as one integer in memory order (the host is x86, little-endian).
inline int64_t load8(const uint8_t *p) {
    int64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// The second step, four samples per step, one per 64-bit lane. A lane holds the eight values that
// end at its sample's last column (memory order: the sample's values in its top n bytes, the
// first one most significant); the bytes below the sample are cleared, the sign bit taken out,
// and the five-bit digits joined by multiply-adds: byte pairs to 10 bits, those to 20, then the
// two halves. Samples of up to eight values come out exact modulo 2^32; longer ones go digit by
// digit.
WAVECODEC_AVX2 int assemble_avx2(const LineValues &values, int32_t *out, int room,
                                 OpenSample &open) {
    const uint8_t *v = values.value();
    int column = 0;
    int stored = 0;
    if (open.open) {
        column = finish_open_sample(values, out, open);
        if (open.open) {
            return 0;
        }
        if (++stored == room) {
            return stored;
        }
    }
    // The sample ends from `column` on, lowest first, taken off the mask four at a time; the
    // vectors are built from registers (a list in memory would be read back before its stores
    // could be forwarded).
    uint64_t ends0 = column < 64 ? values.ends[0] & (~uint64_t{0} << column) : 0;
    uint64_t ends1 =
        column <= 64 ? values.ends[1] : values.ends[1] & (~uint64_t{0} << (column - 64));
    const int total = std::popcount(ends0) + std::popcount(ends1);
    const int wanted = total < room - stored ? total : room - stored;
    auto next_end = [&](int previous) {
        if (ends0 != 0) {
            const int end = std::countr_zero(ends0);
            ends0 &= ends0 - 1u;
            return end;
        }
        if (ends1 != 0) {
            const int end = 64 + std::countr_zero(ends1);
            ends1 &= ends1 - 1u;
            return end;
        }
        return previous;  // past the last sample: an empty one, never stored
    };

    int32_t *dst = out + stored;
    int last = column - 1;  // end of the sample before the group
    const __m256i ones = _mm256_set1_epi64x(-1);
    const __m256i sign_bit = _mm256_set1_epi64x(0x10);
    const __m256i digits = _mm256_set1_epi64x(0x1f1f1f1f1f1f1f1f);
    const __m256i pair = _mm256_set1_epi16(0x0120);      // bytes 32, 1
    const __m256i quad = _mm256_set1_epi32(0x00010400);  // words 1024, 1
    const __m256i low_dwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    for (int k = 0; k < wanted; k += 4) {
        const int e0 = next_end(last);
        const int e1 = next_end(e0);
        const int e2 = next_end(e1);
        const int e3 = next_end(e2);
        const __m128i end = _mm_setr_epi32(e0, e1, e2, e3);
        const __m128i n = _mm_sub_epi32(end, _mm_setr_epi32(last, e0, e1, e2));
        const __m256i shift =
            _mm256_cvtepi32_epi64(_mm_sub_epi32(_mm_set1_epi32(64), _mm_slli_epi32(n, 3)));
        const __m256i w = _mm256_set_epi64x(load8(v + e3 - 7), load8(v + e2 - 7), load8(v + e1 - 7),
                                            load8(v + e0 - 7));
        const __m256i negative =
            _mm256_and_si256(_mm256_srlv_epi64(w, _mm256_add_epi64(shift, _mm256_set1_epi64x(4))),
                             _mm256_set1_epi64x(1));
        const __m256i mask =
            _mm256_and_si256(_mm256_sllv_epi64(ones, shift),
                             _mm256_andnot_si256(_mm256_sllv_epi64(sign_bit, shift), digits));
        __m256i x = _mm256_maddubs_epi16(_mm256_and_si256(w, mask), pair);
        x = _mm256_madd_epi16(x, quad);
        x = _mm256_add_epi64(_mm256_slli_epi64(x, 20), _mm256_srli_epi64(x, 32));
        const __m256i minus = _mm256_sub_epi64(_mm256_setzero_si256(), negative);
        x = _mm256_sub_epi64(_mm256_xor_si256(x, minus), minus);
        const __m128i four = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(x, low_dwords));
        const int in_group = wanted - k < 4 ? wanted - k : 4;
        if (in_group == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k), four);
        } else {
            // Nothing is written past the samples stored.
            int32_t last_group[4];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(last_group), four);
            std::memcpy(dst + k, last_group, static_cast<size_t>(in_group) * sizeof *dst);
        }
        if (_mm_movemask_epi8(_mm_cmpgt_epi32(n, _mm_set1_epi32(8))) != 0) {
            const int group[5] = {last, e0, e1, e2, e3};
            for (int i = 0; i < in_group; ++i) {
                if (group[i + 1] - group[i] > 8) {
                    dst[k + i] = long_sample(v, group[i] + 1, group[i + 1]);
                }
            }
        }
        last = e3;
    }
    stored += wanted;
    if (wanted == total && last + 1 < values.length) {
        open_sample(values, last + 1, open);  // goes on in the next line that holds code
    }
    return stored;
}

}  // namespace

int decode_line_avx2(const char *line, int32_t *out, int room, OpenSample &open) {
    LineValues values;
    line_values_avx2(line, values);
    open.text_length = values.length;
    return assemble_avx2(values, out, room, open);
}

}  // namespace wavecodec

#endif
