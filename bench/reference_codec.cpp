#include "reference_codec.h"

#include <cctype>
#include <cmath>
#include <cstring>

namespace reference {

namespace {

const char kCode[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const int32_t kPowers32[6] = {1, 32, 1024, 32768, 1048576, 33554432};
const int32_t kMasks[6] = {0x1f, 0x3e0, 0x7c00, 0xf8000, 0x1f00000, 0x3e000000};
const int32_t kMaxMagnitude = 134217727;

struct DecodeTable {
    int value[128];
    DecodeTable() : value{} {
        for (int v = 0; v < 64; ++v) {
            value[static_cast<unsigned char>(kCode[v])] = v;
        }
    }
};
const DecodeTable kDecode;

bool starts_with(const char *line, const char *prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Magnitude of a 32-bit value, as unsigned so that -2147483648 is no special case.
uint32_t magnitude32(int32_t v) {
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

}  // namespace

int compress_6b_buffer(const int32_t *samples, int count, char_writer writer) {
    for (int i = 0; i < count; ++i) {
        const int32_t v = samples[i];
        if (v == INT32_MIN) {
            return -1;
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
        writer(kCode[first]);
        for (int k = rest - 1; k >= 0; --k) {
            int next = (magnitude & kMasks[k]) / kPowers32[k];
            if (k > 0) {
                next += 32;
            }
            writer(kCode[next]);
        }
    }
    return 0;
}

int decomp_6b_buffer(int count, int32_t *samples, line_reader reader, void *stream) {
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
            const int d = kDecode.value[c & 0x7f];
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

void diff_2nd(int32_t *samples, int count) {
    uint32_t before = 0;  // the input two places back
    uint32_t last = 0;    // the previous input
    for (int i = 0; i < count; ++i) {
        const uint32_t x = static_cast<uint32_t>(samples[i]);
        samples[i] = static_cast<int32_t>(x - 2u * last + before);
        before = last;
        last = x;
    }
}

void rem_2nd_diff(int32_t *samples, int count) {
    uint32_t first = 0;
    uint32_t second = 0;
    for (int i = 0; i < count; ++i) {
        first += static_cast<uint32_t>(samples[i]);
        second += first;
        samples[i] = static_cast<int32_t>(second);
    }
}

int check_sum(const int32_t *samples, int count, int initial) {
    const uint32_t limit = 99999999;
    int32_t sum = initial;
    for (int i = 0; i < count; ++i) {
        int32_t v = samples[i];
        if (magnitude32(v) > limit) {
            v %= 100000000;
        }
        // |sum| and |v| are at most 99999999 here: no 32-bit overflow.
        sum += v;
        if (magnitude32(sum) > limit) {
            sum %= 100000000;
        }
    }
    return sum;
}

}  // namespace reference
