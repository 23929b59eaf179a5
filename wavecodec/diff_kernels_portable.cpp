// Second differences and their restoration in plain C++: the differences in blocks whose loops
// the compiler vectorizes for the baseline instruction set, the running sums four lanes at a
// time in the compiler's generic vectors.
#include <cstring>

#include "kernels.h"

namespace wavecodec {
namespace {

// Samples differenced per block: the block's outputs are built aside, from inputs not yet
// overwritten, then stored.
constexpr size_t kDiffBlock = 64;

inline uint32_t u(int32_t v) {
    return static_cast<uint32_t>(v);
}

void diff_block(int32_t *x, uint32_t &last, uint32_t &carry) {
    uint32_t out[kDiffBlock];
    out[0] = u(x[0]) + carry;
    out[1] = u(x[1]) + last - 2u * u(x[0]);
    for (size_t j = 2; j < kDiffBlock; ++j) {
        out[j] = u(x[j]) + u(x[j - 2]) - 2u * u(x[j - 1]);
    }
    last = u(x[kDiffBlock - 1]);
    carry = u(x[kDiffBlock - 2]) - 2u * last;
    std::memcpy(x, out, sizeof out);
}

}  // namespace

void diff_portable(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry) {
    size_t i = 0;
    for (; count - i >= kDiffBlock; i += kDiffBlock) {
        diff_block(samples + i, last, carry);
    }
    for (; i < count; ++i) {
        const uint32_t x = u(samples[i]);
        samples[i] = static_cast<int32_t>(x + carry);
        carry = last - 2u * x;
        last = x;
    }
}

#if defined(__GNUC__) || defined(__clang__)

namespace {

// Four lanes in the compiler's generic vectors, which become SSE2 on x86-64, NEON on aarch64
// and plain code where there is no vector unit. Element i is sample i whatever the byte order.
using Lanes = uint32_t __attribute__((vector_size(16)));

inline Lanes load_lanes(const int32_t *p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store_lanes(int32_t *p, Lanes v) {
    std::memcpy(p, &v, sizeof v);
}

// Running sum of the four lanes: adds the lanes shifted up by one, then by two.
inline Lanes running_sum(Lanes v) {
    const Lanes zero = {0, 0, 0, 0};
    v += __builtin_shufflevector(zero, v, 0, 4, 5, 6);
    v += __builtin_shufflevector(zero, v, 0, 1, 4, 5);
    return v;
}

inline Lanes last_everywhere(Lanes v) {
    return __builtin_shufflevector(v, v, 3, 3, 3, 3);
}

}  // namespace

// Both running sums four samples at a time: the running sum within the vector plus the total
// carried in every lane. The carries wait on one addition and one shuffle per four samples
// each, where the plain loop waits on two additions per sample.
void prefix_sums_portable(int32_t *samples, size_t count, uint32_t &first, uint32_t &second) {
    Lanes f = {first, first, first, first};
    Lanes s = {second, second, second, second};
    size_t i = 0;
    for (; count - i >= 8; i += 8) {
        Lanes a = running_sum(load_lanes(samples + i)) + f;
        Lanes b = running_sum(load_lanes(samples + i + 4)) + last_everywhere(a);
        f = last_everywhere(b);
        a = running_sum(a) + s;
        b = running_sum(b) + last_everywhere(a);
        s = last_everywhere(b);
        store_lanes(samples + i, a);
        store_lanes(samples + i + 4, b);
    }
    uint32_t fs = f[0];
    uint32_t ss = s[0];
    for (; i < count; ++i) {
        fs += u(samples[i]);
        ss += fs;
        samples[i] = static_cast<int32_t>(ss);
    }
    first = fs;
    second = ss;
}

#else

void prefix_sums_portable(int32_t *samples, size_t count, uint32_t &first, uint32_t &second) {
    uint32_t f = first;
    uint32_t s = second;
    for (size_t i = 0; i < count; ++i) {
        f += u(samples[i]);
        s += f;
        samples[i] = static_cast<int32_t>(s);
    }
    first = f;
    second = s;
}

#endif

}  // namespace wavecodec
