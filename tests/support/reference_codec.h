// Plainly written versions of the wavecodec routines: the algorithms as first designed, without
// table tricks, blocks or vector loops, and defined for every input (64-bit sums, unsigned
// wrapping). The tests' models (kernel paths, kernel table, encoder, checksum, export arguments)
// and the benchmarks' references (bench/) are these, in this one place; not part of the library.
#ifndef WAVELIBS_REFERENCE_CODEC_H
#define WAVELIBS_REFERENCE_CODEC_H

#include "wavecodec.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace reference {

inline constexpr char kCode[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr int32_t kMaxMagnitude = 134217727;

// Hands `put` the characters of one sample: bit length by frexp, then each character cut out
// with the mask and power-of-32 tables and a division. Returns false, with nothing handed over,
// for -2147483648, which has no code; larger magnitudes are clamped to 134217727.
template <typename Put>
bool put_code(int32_t v, Put &&put) {
    static constexpr int32_t kPowers32[6] = {1, 32, 1024, 32768, 1048576, 33554432};
    static constexpr int32_t kMasks[6] = {0x1f, 0x3e0, 0x7c00, 0xf8000, 0x1f00000, 0x3e000000};
    if (v == INT32_MIN) {
        return false;
    }
    int32_t magnitude = v < 0 ? -v : v;
    if (magnitude > kMaxMagnitude) {
        magnitude = kMaxMagnitude;
    }
    int bits = 0;
    std::frexp(static_cast<double>(magnitude), &bits);
    const int rest = bits / 5;
    int first = (magnitude & kMasks[rest]) / kPowers32[rest];
    if (v < 0) {
        first += 16;
    }
    if (rest > 0) {
        first += 32;
    }
    put(kCode[first]);
    for (int k = rest - 1; k >= 0; --k) {
        int next = (magnitude & kMasks[k]) / kPowers32[k];
        if (k > 0) {
            next += 32;
        }
        put(kCode[next]);
    }
    return true;
}

// The characters of one sample (none for -2147483648).
inline std::string code(int32_t sample) {
    std::string out;
    put_code(sample, [&out](char c) { out.push_back(c); });
    return out;
}

// The characters of samples[0, count), stopping before the first -2147483648.
inline std::string codes(const int32_t *samples, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && put_code(samples[i], [&out](char c) { out.push_back(c); });
         ++i) {
    }
    return out;
}

inline int compress_6b_buffer(const int32_t *samples, int count, char_writer writer) {
    for (int i = 0; i < count; ++i) {
        if (!put_code(samples[i], [writer](char c) { writer(c); })) {
            return -1;
        }
    }
    return 0;
}

// Per character: isspace for the end of a line's text, then the decode table.
inline int decomp_6b_buffer(int count, int32_t *samples, line_reader reader, void *stream) {
    struct DecodeTable {
        int value[128] = {};
        DecodeTable() {
            for (int v = 0; v < 64; ++v) {
                value[static_cast<unsigned char>(kCode[v])] = v;
            }
        }
    };
    static const DecodeTable decode;
    const auto starts_with = [](const char *line, const char *prefix) {
        return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
    };
    char line[WAVECODEC_LINE_BUFFER];
    do {
        if (reader(line, stream) == nullptr) {
            return -1;
        }
    } while (!starts_with(line, "DAT2") && !starts_with(line, "DAT1"));

    int stored = 0;
    bool inside = false;  // a sample is under way
    bool negative = false;
    uint32_t magnitude = 0;
    while (stored < count) {
        if (reader(line, stream) == nullptr) {
            return -1;
        }
        if (!inside && (starts_with(line, "CHK2 ") || starts_with(line, "CHK1 "))) {
            return stored;
        }
        for (int column = 0; column < 80; ++column) {
            const unsigned char c = static_cast<unsigned char>(line[column]);
            if (c == '\0' || std::isspace(c)) {
                break;
            }
            const int d = decode.value[c & 0x7f];
            if (!inside) {
                magnitude = static_cast<uint32_t>(d & 0x0f);
                negative = (d & 0x10) != 0;
                inside = true;
            } else {
                magnitude = (magnitude << 5) + static_cast<uint32_t>(d & 0x1f);
            }
            if ((d & 0x20) == 0) {
                samples[stored] = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
                inside = false;
                if (++stored == count) {
                    return count;
                }
            }
        }
    }
    return stored;
}

// Second differences of samples[0, count) in place, continuing a series whose two latest inputs
// are `second_last` and `last` (both 0 for a new series); updates both.
inline void diff(int32_t *samples, size_t count, uint32_t &second_last, uint32_t &last) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t x = static_cast<uint32_t>(samples[i]);
        samples[i] = static_cast<int32_t>(x - 2u * last + second_last);
        second_last = last;
        last = x;
    }
}

// Restores samples[0, count) from second differences in place, continuing from the running sums
// `first` and `second` (both 0 for a whole series); updates both.
inline void restore(int32_t *samples, size_t count, uint32_t &first, uint32_t &second) {
    for (size_t i = 0; i < count; ++i) {
        first += static_cast<uint32_t>(samples[i]);
        second += first;
        samples[i] = static_cast<int32_t>(second);
    }
}

// A new series each call.
inline void diff_2nd(int32_t *samples, int count) {
    uint32_t second_last = 0, last = 0;
    diff(samples, count > 0 ? static_cast<size_t>(count) : 0, second_last, last);
}

inline void rem_2nd_diff(int32_t *samples, int count) {
    uint32_t first = 0, second = 0;
    restore(samples, count > 0 ? static_cast<size_t>(count) : 0, first, second);
}

// The checksum step by step in 64 bits: each sample, then the sum, reduced by the truncating
// remainder whenever its magnitude exceeds eight digits. Any `initial` is taken.
inline int check_sum(const int32_t *samples, int count, int initial) {
    int64_t sum = initial;
    for (int i = 0; i < count; ++i) {
        int64_t v = samples[i];
        if (v > 99999999 || v < -99999999) {
            v %= 100000000;
        }
        sum += v;
        if (sum > 99999999 || sum < -99999999) {
            sum %= 100000000;
        }
    }
    return static_cast<int>(sum);
}

}  // namespace reference

#endif
