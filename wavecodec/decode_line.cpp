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

// Per sample length n (1 to 6): the bits that hold the digits of its n values, when the value
// that ends it is in the lowest byte of a word (the sign bit of the first value cleared), and the
// position of that sign bit.
struct ShortSample {
    uint64_t digits;
    unsigned sign;
};
inline constexpr ShortSample kShort[7] = {
    {0, 0},
    {0x000000000000000full, 4},  {0x0000000000000f1full, 12}, {0x00000000000f1f1full, 20},
    {0x000000000f1f1f1full, 28}, {0x0000000f1f1f1f1full, 36}, {0x00000f1f1f1f1f1full, 44},
};

// The sample of the n (1 to 6) code values that end at v[0], without a branch: the eight values
// up to v[0] in one word, v[0] lowest; the sign and the digits of the sample taken out by mask;
// the five-bit digits packed together.
inline int32_t short_sample(const uint8_t *v, unsigned n) {
    const uint64_t w = load_first_high(v - 7);
    const uint32_t negative = static_cast<uint32_t>(w >> kShort[n].sign) & 1u;
    uint64_t d = w & kShort[n].digits;
    d = (d & 0x001f001f001f001full) | ((d & 0x1f001f001f001f00ull) >> 3);
    d = (d & 0x000003ff000003ffull) | ((d & 0x03ff000003ff0000ull) >> 6);
    const uint32_t magnitude = static_cast<uint32_t>((d & 0xfffffu) | ((d >> 32) << 20));
    return static_cast<int32_t>((magnitude ^ (0u - negative)) + negative);
}

inline int32_t signed_sample(uint32_t magnitude, bool negative) {
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace

int finish_open_sample(const LineValues &values, int32_t *out, OpenSample &open) {
    const uint8_t *v = values.value();
    for (int column = 0; column < values.length; ++column) {
        const uint32_t d = v[column];
        // Wraps modulo 2^32 for over-long samples, as 32-bit arithmetic does.
        open.magnitude = (open.magnitude << 5) + (d & 0x1fu);
        if ((d & 0x20u) == 0) {
            out[0] = signed_sample(open.magnitude, open.negative);
            open.open = false;
            return column + 1;
        }
    }
    return values.length;
}

void open_sample(const LineValues &values, int column, OpenSample &open) {
    const uint8_t *v = values.value();
    open.open = true;
    open.negative = (v[column] & 0x10u) != 0;
    open.magnitude = v[column] & 0x0fu;
    while (++column < values.length) {
        open.magnitude = (open.magnitude << 5) + (v[column] & 0x1fu);
    }
}

int32_t long_sample(const uint8_t *v, int first, int end) {
    uint32_t magnitude = v[first] & 0x0fu;
    for (int c = first + 1; c <= end; ++c) {
        magnitude = (magnitude << 5) + (v[c] & 0x1fu);
    }
    return signed_sample(magnitude, (v[first] & 0x10u) != 0);
}

int assemble_samples(const LineValues &values, int32_t *out, int room, OpenSample &open) {
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
    return stored + assemble_samples_from(values, column, out + stored, room - stored, open);
}

int assemble_samples_from(const LineValues &values, int column, int32_t *out, int room,
                          OpenSample &open) {
    const uint8_t *v = values.value();
    int stored = 0;
    // Every sample end from `column` on, lowest first: the end positions come from the mask
    // alone (clearing its lowest bit), so consecutive samples do not wait on each other.
    for (int half = column >> 6; half < 2; ++half) {
        const int base = 64 * half;
        uint64_t ends = values.ends[half];
        if (column > base) {
            ends &= ~uint64_t{0} << (column - base);
        }
        while (ends != 0) {
            const int end = base + std::countr_zero(ends);
            ends &= ends - 1u;
            const unsigned n = static_cast<unsigned>(end - column + 1);
            // Longer samples than any encoder writes go digit by digit.
            out[stored] = n <= 6 ? short_sample(v + end, n) : long_sample(v, column, end);
            column = end + 1;
            if (++stored == room) {
                return stored;
            }
        }
    }
    if (column < values.length) {
        open_sample(values, column, open);  // goes on in the next line that holds code
    }
    return stored;
}

void line_values_portable(const char *line, LineValues &values) {
    uint8_t *v = values.value();
    std::memset(values.bytes, 0, 8);
    int n = 0;
    for (; n < kColumns; ++n) {
        const int8_t value = kCharValue.value[static_cast<unsigned char>(line[n])];
        if (value == kTextEnd) {
            break;
        }
        v[n] = static_cast<uint8_t>(value);
    }
    std::memset(v + n, 0, static_cast<size_t>(kColumns - n));
    values.length = n;
    // Bit 5 of each value, eight at a time, gathered into eight bits (byte i to bit i); a clear
    // bit ends a sample.
    uint64_t more[2] = {0, 0};
    for (int i = 0; i < kColumns; i += 8) {
        const uint64_t bits = (load_first_low(v + i) >> 5) & 0x0101010101010101ull;
        more[i >> 6] |= ((bits * 0x0102040810204080ull) >> 56) << (i & 63);
    }
    const uint64_t low_text = n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1u;
    const uint64_t high_text = n <= 64 ? 0 : (uint64_t{1} << (n - 64)) - 1u;
    values.ends[0] = ~more[0] & low_text;
    values.ends[1] = ~more[1] & high_text;
}

int decode_line_portable(const char *line, int32_t *out, int room, OpenSample &open) {
    LineValues values;
    std::memset(values.value() + kColumns, 0, sizeof values.bytes - 8 - kColumns);
    line_values_portable(line, values);
    return assemble_samples(values, out, room, open);
}

}  // namespace wavecodec
