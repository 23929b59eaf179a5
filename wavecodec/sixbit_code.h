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

// Writes the code of one sample, which must not be -2147483648, to out[0..7]: its 1 to 6
// characters, then filler that the next sample overwrites. Returns the number of characters.
// No branch depends on the value: the characters are built in one 64-bit word, one per byte.
inline unsigned encode_sample_wide(int32_t sample, char *out) {
    const uint32_t x = static_cast<uint32_t>(sample);
    const uint32_t negative = x >> 31;
    uint32_t magnitude = (x ^ (0u - negative)) + negative;
    magnitude = magnitude < kMaxMagnitude ? magnitude : kMaxMagnitude;
    // bit length / 5, for bit lengths 0 to 27
    const unsigned rest = (static_cast<unsigned>(std::bit_width(magnitude)) * 13u) >> 6;

    // The six five-bit digits, least significant in byte 0: first split into 10-bit groups in
    // 16-bit fields, then each group into two bytes.
    const uint64_t m = magnitude;
    const uint64_t groups = (m & 0x3ffu) | ((m & 0xffc00u) << 6) | ((m & 0x3ff00000u) << 12);
    const uint64_t digits = (groups & 0x001f001f001full) | ((groups << 3) & 0x1f001f001f00ull);
    // Most significant digit first: byte i holds digit rest - i; bytes past rest are 0.
    uint64_t w = __builtin_bswap64(digits) >> (8u * (7u - rest));
    w |= 0x202020202020ull >> (8u * (6u - rest));  // "another follows" on all but the last
    w |= static_cast<uint64_t>(negative) << 4;     // sign in the first

    // Code value to character in every byte at once; values are below 64, so no byte carries.
    // The alphabet runs "+", "-", "0".."9", "A".."Z", "a".."z": offsets 43, 44, 46, 53, 59.
    constexpr uint64_t ones = 0x0101010101010101ull;
    auto at_least = [w](uint64_t c) { return ((w + (128u - c) * ones) >> 7) & ones; };
    w += 43u * ones + at_least(1) + 2u * at_least(2) + 7u * at_least(12) + 6u * at_least(38);

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
