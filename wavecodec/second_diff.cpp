// diff_2nd and rem_2nd_diff: second differences in wrapping 32-bit arithmetic. Portable loops
// (the differences in vectorizable blocks), and AVX-512 kernels chosen at run time where the CPU
// has it.
#include "exported.h"

#include <cstring>

#include "cpu_features.h"

#ifdef WAVECODEC_X86_DISPATCH
#include <immintrin.h>
#endif

namespace {

// Differencing state of the series in progress (process-wide, see the header): the latest input
// sample and the sample before it minus twice the latest. A new series starts from zeros, as if
// the two samples before its first were 0.
uint32_t g_last = 0;
uint32_t g_carry = 0;

// Samples differenced per block: the block's outputs are built aside, from inputs not yet
// overwritten, then stored; the loops vectorize.
constexpr int kDiffBlock = 64;

inline uint32_t u(int32_t v) {
    return static_cast<uint32_t>(v);
}

void diff_block(int32_t *x, uint32_t &last, uint32_t &carry) {
    uint32_t out[kDiffBlock];
    out[0] = u(x[0]) + carry;
    out[1] = u(x[1]) + last - 2u * u(x[0]);
    for (int j = 2; j < kDiffBlock; ++j) {
        out[j] = u(x[j]) + u(x[j - 2]) - 2u * u(x[j - 1]);
    }
    last = u(x[kDiffBlock - 1]);
    carry = u(x[kDiffBlock - 2]) - 2u * last;
    std::memcpy(x, out, sizeof out);
}

// Double running sum over samples[0, count), continuing from `first` and `second`.
void prefix_sums(int32_t *samples, int count, uint32_t &first, uint32_t &second) {
    for (int i = 0; i < count; ++i) {
        first += u(samples[i]);
        second += first;
        samples[i] = static_cast<int32_t>(second);
    }
}

#ifdef WAVECODEC_X86_DISPATCH
// The zero-masking forms of the intrinsics are used throughout: the plain ones start from an
// undefined register, which g++ 12 reports as uninitialized once inlined.
constexpr __mmask16 kAll = 0xffff;

// Second differences of sixteen samples at a time: each vector is lined up with the one before
// it to get the inputs one and two places back. Returns how many samples were done (a multiple
// of sixteen) and updates the state as the per-sample loop would.
__attribute__((target("avx512f"))) int diff_avx512(int32_t *samples, int count, uint32_t &last,
                                                   uint32_t &carry) {
    const int done = count & ~15;
    if (done == 0) {
        return 0;
    }
    // Lanes 14 and 15 of `before` hold the inputs two and one places before the first.
    __m512i before = _mm512_maskz_set1_epi32(0x4000, static_cast<int32_t>(carry + 2u * last));
    before = _mm512_mask_set1_epi32(before, 0x8000, static_cast<int32_t>(last));
    for (int i = 0; i < done; i += 16) {
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
    return done;
}

// Running sums within a vector of sixteen: lane j becomes the sum of lanes 0..j.
__attribute__((target("avx512f"))) inline __m512i lane_prefix(__m512i v) {
    const __m512i zero = _mm512_setzero_si512();
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 15));    // lanes moved up by 1
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 14));    // by 2
    v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 12));    // by 4
    return _mm512_add_epi32(v, _mm512_maskz_alignr_epi32(kAll, v, zero, 8));  // by 8
}

// Sixteen samples at a time; returns how many were done (a multiple of sixteen). The carries
// advance by one add per vector: the broadcasts of the block totals are off that chain.
__attribute__((target("avx512f"))) int prefix_sums_avx512(int32_t *samples, int count,
                                                          uint32_t &first, uint32_t &second) {
    const __m512i top = _mm512_set1_epi32(15);
    __m512i f = _mm512_set1_epi32(static_cast<int32_t>(first));
    __m512i s = _mm512_set1_epi32(static_cast<int32_t>(second));
    const int done = count & ~15;
    for (int i = 0; i < done; i += 16) {
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
    return done;
}
#endif

}  // namespace

void diff_2nd(int32_t *samples, int count, int continued) {
    if (continued == 0) {
        g_last = 0;
        g_carry = 0;
    }
    if (samples == nullptr || count <= 0) {
        return;
    }
    uint32_t last = g_last;
    uint32_t carry = g_carry;
    int i = 0;
#ifdef WAVECODEC_X86_DISPATCH
    if (wavecodec::has_avx512f()) {
        i = diff_avx512(samples, count, last, carry);
    }
#endif
    for (; count - i >= kDiffBlock; i += kDiffBlock) {
        diff_block(samples + i, last, carry);
    }
    for (; i < count; ++i) {
        const uint32_t x = u(samples[i]);
        samples[i] = static_cast<int32_t>(x + carry);
        carry = last - 2u * x;
        last = x;
    }
    g_last = last;
    g_carry = carry;
}

void rem_2nd_diff(int32_t *samples, int count) {
    if (samples == nullptr || count < 2) {
        return;
    }
    // Two running sums: the first turns second differences into first differences, the second
    // turns those into samples.
    uint32_t first = 0;
    uint32_t second = 0;
    int done = 0;
#ifdef WAVECODEC_X86_DISPATCH
    if (wavecodec::has_avx512f()) {
        done = prefix_sums_avx512(samples, count, first, second);
    }
#endif
    prefix_sums(samples + done, count - done, first, second);
}
