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

// The characters of the 10-bit groups of a magnitude below 2^30 (two digits each), ready to be
// or-ed into one 64-bit word: `high` (bits 20-29) in bytes 0 and 1, `middle` (bits 10-19) in
// bytes 2 and 3, `low` (bits 0-9) in bytes 4 and 5, in that order in memory on a little-endian
// processor. Every character has "another follows" but the last one, the second of `low`.
struct GroupTable {
    uint64_t high[1024];
    uint64_t middle[1024];
    uint64_t low[1024];
};

inline constexpr GroupTable kGroups = [] {
    GroupTable t{};
    for (unsigned g = 0; g < 1024; ++g) {
        const uint64_t first = static_cast<unsigned char>(kCode[(g >> 5) + 32]);
        const uint64_t second = static_cast<unsigned char>(kCode[(g & 31) + 32]);
        const uint64_t last = static_cast<unsigned char>(kCode[g & 31]);
        t.high[g] = first | second << 8;
        t.middle[g] = (first | second << 8) << 16;
        t.low[g] = (first | last << 8) << 32;
    }
    return t;
}();

// By the index of a magnitude's highest set bit (0 to 26; 0 also for zero): the characters after
// the first (bit length / 5), the bit of the sign (bit 4 of the first character's digit), and
// the shift that drops the unused leading characters of six. Look-ups are cheaper than the
// arithmetic here.
struct WidthTable {
    uint8_t rest[32];
    uint8_t sign[32];
    uint8_t drop[32];
};

inline constexpr WidthTable kWidth = [] {
    WidthTable t{};
    for (unsigned top = 0; top < 32; ++top) {
        const unsigned rest = (top + 1) / 5 < 5 ? (top + 1) / 5 : 5;
        t.rest[top] = static_cast<uint8_t>(rest);
        t.sign[top] = static_cast<uint8_t>(5 * rest + 4);
        t.drop[top] = static_cast<uint8_t>(8 * (5 - rest));
    }
    return t;
}();

// Writes the code of one sample, which must not be -2147483648, to out[0..7]: its 1 to 6
// characters, then filler that the next sample overwrites. Returns the number of characters.
// No branch depends on the value: the sign goes in as the first digit's bit 4 (that digit has
// four bits of magnitude), three look-ups give the characters of all six digits, and those
// before the sample's first are shifted out.
inline unsigned encode_sample_wide(int32_t sample, char *out) {
    const uint32_t x = static_cast<uint32_t>(sample);
    const uint32_t negative = x >> 31;
    uint32_t magnitude = (x ^ (0u - negative)) + negative;
    magnitude = magnitude < kMaxMagnitude ? magnitude : kMaxMagnitude;
    // | 1: no special case for zero; 31 ^ leading zeros: one instruction on x86
    const unsigned top = static_cast<unsigned>(std::countl_zero(magnitude | 1u)) ^ 31u;
    const uint32_t m = magnitude | negative << kWidth.sign[top];

    uint64_t w = kGroups.high[m >> 20] | kGroups.middle[(m >> 10) & 1023u] | kGroups.low[m & 1023u];
    w >>= kWidth.drop[top];
    if constexpr (std::endian::native == std::endian::big) {
        w = __builtin_bswap64(w);
    }
    std::memcpy(out, &w, sizeof w);
    return kWidth.rest[top] + 1u;
}

// Whether samples[0, count) holds -2147483648, which the block encoder cannot take.
inline bool has_unencodable(const int32_t *samples, int count) {
    uint32_t found = 0;  // an integer flag, so that the loop vectorizes
    for (int i = 0; i < count; ++i) {
        found |= samples[i] == INT32_MIN ? 1u : 0u;
    }
    return found != 0;
}

// How many of samples[0, count) have a magnitude above kMaxMagnitude, which the encoders clamp
// (-2147483648 included).
inline int count_clamped(const int32_t *samples, int count) {
    int found = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t x = static_cast<uint32_t>(samples[i]);
        const uint32_t magnitude = x >> 31 != 0 ? 0u - x : x;
        found += magnitude > kMaxMagnitude ? 1 : 0;
    }
    return found;
}

// Writes the code of samples[0, count) (count <= kBlock, none -2147483648) to `out`, which holds
// kBlockBuffer bytes; returns the number of characters. Uses AVX-512 where the CPU has it.
size_t encode_block(const int32_t *samples, int count, char *out);

}  // namespace wavecodec

#endif
