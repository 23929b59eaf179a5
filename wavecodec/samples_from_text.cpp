// samples_from_text: decimal integers separated by white space, from a caller's text into int32
// samples, stopping at the first faulty word; a word the text may cut short is left for the next
// call.
#include "exported.h"

#include <cstdint>

namespace {

// Character classes: the white space that separates words (space, tab, LF, VT, FF, CR), the
// ten digits and everything else.
enum Class : unsigned char { kOther = 0, kWhite = 1, kDigit = 2 };

struct ClassTable {
    unsigned char of[256];
    constexpr ClassTable() : of{} {
        for (unsigned c = '0'; c <= '9'; ++c) {
            of[c] = kDigit;
        }
        of[static_cast<unsigned char>(' ')] = kWhite;
        for (unsigned c = '\t'; c <= '\r'; ++c) {  // tab, LF, VT, FF, CR
            of[c] = kWhite;
        }
    }
};

constexpr ClassTable kClasses;

inline unsigned char class_of(char c) {
    return kClasses.of[static_cast<unsigned char>(c)];
}

}  // namespace

int samples_from_text(const char *text, size_t length, int last, int32_t *samples, int capacity,
                      int *count, size_t *used) {
    int stored = 0;
    size_t at = 0;
    int result = 0;
    if ((text == nullptr && length > 0) || capacity < 0 || (samples == nullptr && capacity > 0)) {
        result = -4;
        length = 0;
    }
    while (result == 0) {
        while (at < length && class_of(text[at]) == kWhite) {
            ++at;
        }
        if (at == length) {
            break;
        }
        const size_t start = at;
        const bool negative = text[at] == '-';
        if (negative || text[at] == '+') {
            ++at;
        }
        // The magnitude in 64 bits; once past 2^31 it stays there (sticky), so no digit count
        // can wrap it, and the word is read to its end.
        uint64_t magnitude = 0;
        const size_t digits_start = at;
        unsigned digit = 0;
        while (at < length && (digit = static_cast<unsigned char>(text[at]) - 48u) < 10u) {
            if (magnitude <= 2147483648u) {
                magnitude = magnitude * 10u + digit;
            }
            ++at;
        }
        bool bad = at == digits_start;
        if (at < length && class_of(text[at]) != kWhite) {
            bad = true;
            while (at < length && class_of(text[at]) != kWhite) {
                ++at;
            }
        }
        // A word that runs to the end of the text may go on in the text of the next call.
        if (at == length && last == 0) {
            at = start;
            break;
        }
        if (bad) {
            at = start;
            result = -1;
            break;
        }
        if (magnitude > (negative ? 2147483648u : 2147483647u)) {
            at = start;
            result = -3;
            break;
        }
        if (stored == capacity) {
            at = start;
            result = -2;
            break;
        }
        const uint32_t bits = static_cast<uint32_t>(magnitude);
        samples[stored++] = static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    if (count != nullptr) {
        *count = stored;
    }
    if (used != nullptr) {
        *used = at;
    }
    return result;
}
