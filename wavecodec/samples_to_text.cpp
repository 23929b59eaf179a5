// samples_to_text: int32 samples as decimal text, a given number per line, into a caller's
// buffer.
#include "exported.h"

#include <cstdint>
#include <cstring>

namespace {

// "00" to "99": two digits per look-up.
struct DigitPairs {
    char at[200];
    constexpr DigitPairs() : at{} {
        for (unsigned i = 0; i < 100; ++i) {
            at[2 * i] = static_cast<char>('0' + i / 10);
            at[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};

constexpr DigitPairs kPairs;

// Longest text of one sample: "-2147483648".
constexpr size_t kMaxText = 11;

inline unsigned digit_count(uint32_t v) {
    unsigned n = 1;
    for (uint32_t limit = 10; n < 10 && v >= limit; limit *= 10) {
        ++n;
    }
    return n;
}

// Writes the decimal text of `value` at `out` (room for kMaxText bytes); returns its length.
inline size_t format_one(int32_t value, char *out) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const bool negative = value < 0;
    uint32_t magnitude = negative ? 0u - bits : bits;
    size_t n = negative ? 1 : 0;
    out[0] = '-';
    n += digit_count(magnitude);
    char *p = out + n;
    while (magnitude >= 100) {
        const uint32_t pair = magnitude % 100;
        magnitude /= 100;
        p -= 2;
        std::memcpy(p, kPairs.at + 2 * pair, 2);
    }
    if (magnitude >= 10) {
        p -= 2;
        std::memcpy(p, kPairs.at + 2 * magnitude, 2);
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return n;
}

}  // namespace

int samples_to_text(const int32_t *samples, int count, int per_line, int *column, char *out,
                    size_t capacity, size_t *length) {
    size_t used = 0;
    int done = 0;
    int result = 0;
    if (per_line < 1 || (column != nullptr && (*column < 0 || *column >= per_line))) {
        result = -3;
    } else if (count > 0 && (samples == nullptr || out == nullptr)) {
        result = -1;
    }
    if (result == 0) {
        int on_line = column != nullptr ? *column : 0;
        char text[kMaxText];
        for (; done < count; ++done) {
            // A space before a value that does not start its line; a LF after one that fills
            // it, or after the last value when the caller keeps no open line.
            const size_t space = on_line > 0 ? 1 : 0;
            const bool ends_line =
                on_line + 1 == per_line || (column == nullptr && done + 1 == count);
            if (capacity - used >= kMaxText + 2) {
                // Room for any value: formatted in place.
                out[used] = ' ';
                used += space;
                used += format_one(samples[done], out + used);
            } else {
                const size_t n = format_one(samples[done], text);
                if (capacity - used < space + n + (ends_line ? 1 : 0)) {
                    break;
                }
                out[used] = ' ';
                used += space;
                std::memcpy(out + used, text, n);
                used += n;
            }
            if (ends_line) {
                out[used++] = '\n';
            }
            on_line = ends_line ? 0 : on_line + 1;
        }
        if (column != nullptr) {
            *column = on_line;
        }
        result = done;
    }
    if (length != nullptr) {
        *length = used;
    }
    return result;
}
