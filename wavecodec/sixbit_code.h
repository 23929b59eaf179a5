// The six-bit sample code: alphabet, decode table and the split of one sample into characters.
//
// Each character carries six bits. First character of a sample: bit 5 = another character
// follows, bit 4 = negative, bits 0-3 = the four most significant bits of the magnitude. Later
// characters: bit 5 = another follows, bits 0-4 = the next five bits of the magnitude.
#ifndef WAVECODEC_SIXBIT_CODE_H
#define WAVECODEC_SIXBIT_CODE_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wavecodec {

// Code value v is the character kAlphabet[v + 1]; the leading blank (position 0) is never emitted.
inline constexpr char kAlphabet[] =
    " +-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr const char *kCode = kAlphabet + 1;

// Largest magnitude the code carries (2^27 - 1, six characters); larger ones are clamped to it.
inline constexpr uint32_t kMaxMagnitude = 134217727u;
// Characters one sample can take.
inline constexpr unsigned kMaxChars = 6;

struct DecodeTable {
    int32_t value[128];
};

// Indexed by a character's low seven bits: the code value of each alphabet character, 0 for
// every other character (which therefore reads like "+").
inline constexpr DecodeTable kDecode = [] {
    DecodeTable t{};
    for (unsigned v = 0; v < 64; ++v) {
        t.value[static_cast<unsigned char>(kCode[v])] = static_cast<int32_t>(v);
    }
    return t;
}();

// Writes the characters of one sample to out[0..5] and returns how many (1 to 6), or 0 for
// -2147483648, whose magnitude does not fit 32 bits and so cannot be encoded.
inline unsigned encode_sample(int32_t sample, char *out) {
    uint32_t magnitude = static_cast<uint32_t>(sample);
    uint32_t sign = 0;
    if (sample < 0) {
        if (sample == INT32_MIN) {
            return 0;
        }
        sign = 16;
        magnitude = 0u - magnitude;
    }
    if (magnitude > kMaxMagnitude) {
        magnitude = kMaxMagnitude;
    }
    // Characters after the first: the bit length divided by five, so the first one never
    // needs more than four data bits.
    const unsigned rest = static_cast<unsigned>(std::bit_width(magnitude)) / 5u;
    unsigned shift = 5u * rest;
    const uint32_t more = rest != 0 ? 32u : 0u;
    out[0] = kCode[(magnitude >> shift) + sign + more];
    for (unsigned i = 1; i <= rest; ++i) {
        shift -= 5u;
        const uint32_t next = i < rest ? 32u : 0u;
        out[i] = kCode[((magnitude >> shift) & 31u) + next];
    }
    return rest + 1u;
}

// Samples per block of the block encoder.
inline constexpr int kBlock = 64;
// Bytes a block encoder's buffer needs: the longest code of kBlock samples and the slack of the
// last store (8 bytes per sample, or 64 per vector of samples).
inline constexpr size_t kBlockBuffer = kMaxChars * kBlock + 64;

// The characters of a 10-bit group of a magnitude (two digits), the first in the low byte:
// `more` has "another follows" on both (a group before the last), `last` on the first only.
struct PairTable {
    uint16_t more[1024];
    uint16_t last[1024];
};

inline constexpr PairTable kPairs = [] {
    PairTable t{};
    for (unsigned g = 0; g < 1024; ++g) {
        const auto high = static_cast<unsigned char>(kCode[(g >> 5) + 32]);
        t.more[g] = static_cast<uint16_t>(high | static_cast<unsigned char>(kCode[(g & 31) + 32]) << 8);
        t.last[g] = static_cast<uint16_t>(high | static_cast<unsigned char>(kCode[g & 31]) << 8);
    }
    return t;
}();

// By the index of a magnitude's highest set bit (0 to 26; 0 also for zero): the characters after
// the first (bit length / 5), the shift that drops the unused leading characters of six, and the
// shift that brings the first digit down. Look-ups are cheaper than the arithmetic here.
struct WidthTable {
    uint8_t rest[32];
    uint8_t drop[32];
    uint8_t first[32];
};

inline constexpr WidthTable kWidth = [] {
    WidthTable t{};
    for (unsigned top = 0; top < 32; ++top) {
        const unsigned rest = (top + 1) / 5 < 5 ? (top + 1) / 5 : 5;
        t.rest[top] = static_cast<uint8_t>(rest);
        t.drop[top] = static_cast<uint8_t>(8 * (5 - rest));
        t.first[top] = static_cast<uint8_t>(5 * rest);
    }
    return t;
}();

// Writes the code of one sample, which must not be -2147483648, to out[0..7]: its 1 to 6
// characters, then filler that the next sample overwrites. Returns the number of characters.
// No branch depends on the value: the characters of all six digits come from three look-ups of
// two characters each, those before the sample's first are shifted out, and the first, which
// carries the sign, is looked up on its own.
inline unsigned encode_sample_wide(int32_t sample, char *out) {
    const uint32_t x = static_cast<uint32_t>(sample);
    const uint32_t negative = x >> 31;
    uint32_t magnitude = (x ^ (0u - negative)) + negative;
    magnitude = magnitude < kMaxMagnitude ? magnitude : kMaxMagnitude;
    // | 1: no special case for zero
    const unsigned top = static_cast<unsigned>(std::bit_width(magnitude | 1u)) - 1u;
    const unsigned rest = kWidth.rest[top];

    uint64_t w = uint64_t{kPairs.more[magnitude >> 20]} |
                 uint64_t{kPairs.more[(magnitude >> 10) & 1023u]} << 16 |
                 uint64_t{kPairs.last[magnitude & 1023u]} << 32;
    w >>= kWidth.drop[top];
    // "Another follows" (32) on the first unless it is the only one: rest + 31 has bit 5 set
    // exactly for rest 1 to 5.
    const uint32_t first = (magnitude >> kWidth.first[top]) + 16u * negative + ((rest + 31u) & 32u);
    w = (w & ~uint64_t{0xff}) | static_cast<unsigned char>(kCode[first]);

    if constexpr (std::endian::native == std::endian::big) {
        w = __builtin_bswap64(w);
    }
    std::memcpy(out, &w, sizeof w);
    return rest + 1u;
}

// Whether samples[0, count) holds -2147483648, which the block encoder cannot take.
inline bool has_unencodable(const int32_t *samples, int count) {
    uint32_t found = 0;  // an integer flag, so that the loop vectorizes
    for (int i = 0; i < count; ++i) {
        found |= samples[i] == INT32_MIN ? 1u : 0u;
    }
    return found != 0;
}

// Writes the code of samples[0, count) (count <= kBlock, none -2147483648) to `out`, which holds
// kBlockBuffer bytes; returns the number of characters. Uses AVX-512 where the CPU has it.
size_t encode_block(const int32_t *samples, int count, char *out);

}  // namespace wavecodec

#endif
