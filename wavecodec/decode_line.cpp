// The portable line kernel and the sample assembly every line kernel shares.
#include "line_values.h"

#include <bit>
#include <cstring>

namespace wavecodec {

namespace {

// The eight bytes at p with p[0] in the most significant byte, whatever the host's byte order.
inline uint64_t load_first_high(const uint8_t *p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) {
        w = __builtin_bswap64(w);
    }
    return w;
}

// The eight bytes at p with p[0] in the least significant byte.
inline uint64_t load_first_low(const uint8_t *p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big) {
        w = __builtin_bswap64(w);
    }
    return w;
}

// Column of the first sample end at or after `column`, or -1.
inline int next_end(const uint64_t ends[2], int column) {
    if (column < 64) {
        const uint64_t low = ends[0] >> column;
        if (low != 0) {
            return column + std::countr_zero(low);
        }
        column = 64;
    }
    const uint64_t high = ends[1] >> (column - 64);
    return high != 0 ? column + std::countr_zero(high) : -1;
}

// The sample of the `n` (1 to 6) code values at v, without a branch: the values are gathered into
// one word, first one highest, and their five-bit digits packed together.
inline int32_t short_sample(const uint8_t *v, unsigned n) {
    uint64_t w = load_first_high(v) >> (8u * (8u - n));  // the n values in bytes n-1 .. 0
    const unsigned first = 8u * (n - 1u);
    const uint32_t negative = static_cast<uint32_t>(w >> (first + 4u)) & 1u;
    w &= 0x1f1f1f1f1f1f1f1full & ~(uint64_t{0x10} << first);
    w = (w & 0x001f001f001f001full) | ((w & 0x1f001f001f001f00ull) >> 3);
    w = (w & 0x000003ff000003ffull) | ((w & 0x03ff000003ff0000ull) >> 6);
    const uint32_t magnitude = static_cast<uint32_t>((w & 0xfffffu) | ((w >> 32) << 20));
    return static_cast<int32_t>((magnitude ^ (0u - negative)) + negative);
}

inline int32_t signed_sample(uint32_t magnitude, bool negative) {
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace

int assemble_samples(const LineValues &values, int32_t *out, int room, OpenSample &open) {
    const uint8_t *v = values.value;
    const int length = values.length;
    int column = 0;
    int stored = 0;
    if (open.open) {
        // The sample continued from an earlier line.
        while (column < length) {
            const uint32_t d = v[column++];
            // Wraps modulo 2^32 for over-long samples, as 32-bit arithmetic does.
            open.magnitude = (open.magnitude << 5) + (d & 0x1fu);
            if ((d & 0x20u) == 0) {
                out[stored++] = signed_sample(open.magnitude, open.negative);
                open.open = false;
                if (stored == room) {
                    return stored;
                }
                break;
            }
        }
    }
    while (column < length && !open.open) {
        const int end = next_end(values.ends, column);
        if (end < 0) {
            // The last sample goes on in the next line that holds code.
            open.open = true;
            open.negative = (v[column] & 0x10u) != 0;
            open.magnitude = v[column] & 0x0fu;
            while (++column < length) {
                open.magnitude = (open.magnitude << 5) + (v[column] & 0x1fu);
            }
            break;
        }
        const unsigned n = static_cast<unsigned>(end - column + 1);
        if (n <= 6) {
            out[stored] = short_sample(v + column, n);
        } else {
            // Longer than any encoder writes: digit by digit, wrapping in 32 bits.
            uint32_t magnitude = v[column] & 0x0fu;
            for (int c = column + 1; c <= end; ++c) {
                magnitude = (magnitude << 5) + (v[c] & 0x1fu);
            }
            out[stored] = signed_sample(magnitude, (v[column] & 0x10u) != 0);
        }
        column = end + 1;
        if (++stored == room) {
            break;
        }
    }
    return stored;
}

void line_values_portable(const char *line, LineValues &values) {
    int n = 0;
    for (; n < kColumns; ++n) {
        const int8_t value = kCharValue.value[static_cast<unsigned char>(line[n])];
        if (value == kTextEnd) {
            break;
        }
        values.value[n] = static_cast<uint8_t>(value);
    }
    std::memset(values.value + n, 0, static_cast<size_t>(kColumns - n));
    values.length = n;
    // Bit 5 of each value, eight at a time, gathered into eight bits (byte i to bit i); a clear
    // bit ends a sample.
    uint64_t more[2] = {0, 0};
    for (int i = 0; i < kColumns; i += 8) {
        const uint64_t bits = (load_first_low(values.value + i) >> 5) & 0x0101010101010101ull;
        more[i >> 6] |= ((bits * 0x0102040810204080ull) >> 56) << (i & 63);
    }
    const uint64_t low_text = n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1u;
    const uint64_t high_text = n <= 64 ? 0 : (uint64_t{1} << (n - 64)) - 1u;
    values.ends[0] = ~more[0] & low_text;
    values.ends[1] = ~more[1] & high_text;
}

int decode_line_portable(const char *line, int32_t *out, int room, OpenSample &open) {
    LineValues values;
    std::memset(values.value + kColumns, 0, sizeof values.value - kColumns);
    line_values_portable(line, values);
    return assemble_samples(values, out, room, open);
}

}  // namespace wavecodec
