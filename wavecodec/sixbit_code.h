// The six-bit sample code: alphabet, decode table and the split of one sample into characters.
//
// Each character carries six bits. First character of a sample: bit 5 = another character
// follows, bit 4 = negative, bits 0-3 = the four most significant bits of the magnitude. Later
// characters: bit 5 = another follows, bits 0-4 = the next five bits of the magnitude.
#ifndef WAVECODEC_SIXBIT_CODE_H
#define WAVECODEC_SIXBIT_CODE_H

#include <bit>
#include <cstdint>

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

}  // namespace wavecodec

#endif
