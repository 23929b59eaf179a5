// The AVX-512 line kernel: the 80 columns translated by one 128-entry byte look-up (VBMI) that
// also marks the text's end; the sample ends listed by a byte compress (VBMI2); then eight samples
// per step, one per 64-bit lane, joined by multiply-adds as in the AVX2 kernel.
#include "line_values.h"

#ifdef WAVELIBS_X86_KERNELS
#if defined(__GNUC__) && !defined(__clang__)
// g++ 12 reports the undefined start register inside many AVX-512 intrinsics as uninitialized
// once they are inlined; the warning is about the intrinsics' own code, not this file's.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <bit>
#include <cstring>

namespace wavecodec {

namespace {

// As listed in kernels.cpp.
#define WAVECODEC_AVX512 \
    __attribute__((target("avx2,bmi,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2")))

// By a character's low seven bits: its code value, with bit 7 set for NUL and white space (a
// character with its high bit set is never an end: that is tested apart).
struct LookUp {
    alignas(64) uint8_t entry[128];
};
inline constexpr LookUp kLookUp = [] {
    LookUp t{};
    for (unsigned c = 0; c < 128; ++c) {
        const int8_t v = kCharValue.value[c];
        t.entry[c] = v == kTextEnd ? uint8_t{0x80} : static_cast<uint8_t>(v);
    }
    return t;
}();

struct Columns {
    uint64_t text_end;
    uint64_t more;  // "another follows"
};

WAVECODEC_AVX512 inline Columns translate(__m512i c, __m512i low, __m512i high, __m512i &value) {
    const __m512i t = _mm512_permutex2var_epi8(low, c, high);
    const uint64_t ascii = ~_mm512_movepi8_mask(c);
    value = _mm512_and_si512(t, _mm512_set1_epi8(0x3f));
    return {_mm512_test_epi8_mask(t, _mm512_set1_epi8(static_cast<char>(0x80))) & ascii,
            _mm512_test_epi8_mask(t, _mm512_set1_epi8(0x20))};
}

// The first step; also leaves the values of columns 0-63 and 64-127 in `low` and `high`.
WAVECODEC_AVX512 void line_values_avx512(const char *line, LineValues &values, __m512i &low,
                                         __m512i &high) {
    const __m512i table_low = _mm512_load_si512(kLookUp.entry);
    const __m512i table_high = _mm512_load_si512(kLookUp.entry + 64);
    std::memset(values.bytes, 0, 8);
    const Columns c0 = translate(_mm512_loadu_si512(line), table_low, table_high, low);
    // Columns 64 to 95 (kLineRead bytes are readable), zeros above.
    const Columns c1 =
        translate(_mm512_maskz_loadu_epi8(0xffffffffu, line + 64), table_low, table_high, high);
    _mm512_storeu_si512(values.value(), low);
    _mm512_storeu_si512(values.value() + 64, high);
    const uint64_t end_high = (c1.text_end & 0xffffu) | 0x10000u;  // column 80 ends the text
    const int length =
        c0.text_end != 0 ? std::countr_zero(c0.text_end) : 64 + std::countr_zero(end_high);
    values.length = length;
    const uint64_t low_text = length >= 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1u;
    const uint64_t high_text = length <= 64 ? 0 : (uint64_t{1} << (length - 64)) - 1u;
    values.ends[0] = ~c0.more & low_text;
    values.ends[1] = ~c1.more & high_text;
}

// Whether a sample of more than eight values ends at or after `column` (eight "another follows"
// bits in a row), which the vector step does not take.
inline bool has_long_sample(const LineValues &values, int column) {
    using u128 = unsigned __int128;
    const u128 text = (u128{1} << values.length) - 1u;
    const u128 ends = values.ends[0] | (u128{values.ends[1]} << 64);
    u128 run = ~ends & text & ~((u128{1} << column) - 1u);
    for (int i = 0; i < 3; ++i) {
        run &= run >> (1 << i);  // runs of 2, 4, 8
    }
    return run != 0;
}

// The second step, eight samples per step, one per 64-bit lane, all in registers: the end
// columns of the samples are compressed into a byte vector; each lane picks its sample's end and
// the end before it, then the eight values that end at its end (a 128-byte look-up into the line's
// values), keeps the sample's n bytes (compare of n + byte index with 8), and joins the digits by
// multiply-adds as the AVX2 kernel does.
WAVECODEC_AVX512 int assemble_avx512(const LineValues &values, __m512i low, __m512i high,
                                     int32_t *out, int room, OpenSample &open) {
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
    if (has_long_sample(values, column)) {
        return stored + assemble_samples_from(values, column, out + stored, room - stored, open);
    }
    const uint64_t ends0 = column < 64 ? values.ends[0] & (~uint64_t{0} << column) : 0;
    const uint64_t ends1 =
        column <= 64 ? values.ends[1] : values.ends[1] & (~uint64_t{0} << (column - 64));
    const int count0 = std::popcount(ends0);
    const int total = count0 + std::popcount(ends1);
    const int wanted = total < room - stored ? total : room - stored;

    const __m512i iota = _mm512_set_epi64(
        0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928, 0x2726252423222120,
        0x1f1e1d1c1b1a1918, 0x1716151413121110, 0x0f0e0d0c0b0a0908, 0x0706050403020100);
    // End columns of the samples: entries 0-63 in `first`, 64-79 in `second`; `first_before`
    // and `second_before` hold the entry before each (for entry 0, the column before `column`).
    const __m512i list0 = _mm512_maskz_compress_epi8(ends0, iota);
    const __m512i list1 =
        _mm512_maskz_compress_epi8(ends1, _mm512_add_epi8(iota, _mm512_set1_epi8(64)));
    const __mmask64 from_second = count0 == 64 ? 0 : ~uint64_t{0} << count0;
    const __m512i first = _mm512_permutex2var_epi8(
        list0,
        _mm512_mask_add_epi8(iota, from_second, iota,
                             _mm512_set1_epi8(static_cast<char>(64 - count0))),
        list1);
    const __m512i second = _mm512_permutexvar_epi8(
        _mm512_add_epi8(iota, _mm512_set1_epi8(static_cast<char>(64 - count0))), list1);
    const __m512i up_one = _mm512_sub_epi8(iota, _mm512_set1_epi8(1));  // entry i - 1
    const __m512i first_before = _mm512_mask_set1_epi8(_mm512_permutexvar_epi8(up_one, first), 1,
                                                       static_cast<char>(column - 1));
    // Entry 0 of `second` follows entry 63 of `first` (index 127 of the pair).
    const __m512i second_before =
        _mm512_permutex2var_epi8(second, _mm512_mask_set1_epi8(up_one, 1, 127), first);

    // Byte i of lane j: j, and i.
    const __m512i lane_of_byte = _mm512_set_epi64(
        0x0707070707070707, 0x0606060606060606, 0x0505050505050505, 0x0404040404040404,
        0x0303030303030303, 0x0202020202020202, 0x0101010101010101, 0x0000000000000000);
    const __m512i byte_in_lane = _mm512_set1_epi64(0x0706050403020100);
    const __m512i eight = _mm512_set1_epi8(8);
    const __m512i pair = _mm512_set1_epi16(0x0120);      // bytes 32, 1
    const __m512i quad = _mm512_set1_epi32(0x00010400);  // words 1024, 1
    int32_t *dst = out + stored;
    for (int k = 0; k < wanted; k += 8) {
        const __mmask8 lanes =
            k + 8 <= wanted ? __mmask8{0xff} : static_cast<__mmask8>((1u << (wanted - k)) - 1u);
        const __m512i pick =
            _mm512_add_epi8(lane_of_byte, _mm512_set1_epi8(static_cast<char>(k & 63)));
        const __m512i end = _mm512_permutexvar_epi8(pick, k < 64 ? first : second);
        const __m512i before = _mm512_permutexvar_epi8(pick, k < 64 ? first_before : second_before);
        // n + i: byte i holds the sample's value from 8 - n on, its first at 8 - n exactly.
        const __m512i place = _mm512_add_epi8(_mm512_sub_epi8(end, before), byte_in_lane);
        const __mmask64 keep = _mm512_cmpge_epu8_mask(place, eight);
        const __mmask64 first_value = _mm512_cmpeq_epi8_mask(place, eight);
        // The values of columns end - 7 to end (below column 0: bytes that are not kept).
        const __m512i at = _mm512_add_epi8(_mm512_sub_epi8(end, _mm512_set1_epi8(7)), byte_in_lane);
        const __m512i w = _mm512_permutex2var_epi8(low, at, high);
        const __mmask64 sign = _mm512_test_epi8_mask(w, _mm512_set1_epi8(0x10)) & first_value;
        const __m512i digit_bits =
            _mm512_mask_blend_epi8(first_value, _mm512_set1_epi8(0x1f), _mm512_set1_epi8(0x0f));
        __m512i x = _mm512_maskz_mov_epi8(keep, _mm512_and_si512(w, digit_bits));
        x = _mm512_maddubs_epi16(x, pair);
        x = _mm512_madd_epi16(x, quad);
        x = _mm512_add_epi64(_mm512_slli_epi64(x, 20), _mm512_srli_epi64(x, 32));
        const __m512i sign_bytes = _mm512_movm_epi8(sign);
        const __mmask8 negative = _mm512_test_epi64_mask(sign_bytes, sign_bytes);
        x = _mm512_mask_sub_epi64(x, negative, _mm512_setzero_si512(), x);
        _mm512_mask_cvtepi64_storeu_epi32(dst + k, lanes, x);
    }
    stored += wanted;
    if (wanted == total) {
        const int next = total == 0   ? column
                         : ends1 != 0 ? 64 + 64 - std::countl_zero(ends1)
                                      : 64 - std::countl_zero(ends0);
        if (next < values.length) {
            open_sample(values, next, open);  // goes on in the next line that holds code
        }
    }
    return stored;
}

}  // namespace

WAVECODEC_AVX512 int decode_line_avx512(const char *line, int32_t *out, int room,
                                        OpenSample &open) {
    LineValues values;
    __m512i low, high;
    line_values_avx512(line, values, low, high);
    open.text_length = values.length;
    return assemble_avx512(values, low, high, out, room, open);
}

}  // namespace wavecodec

#endif
