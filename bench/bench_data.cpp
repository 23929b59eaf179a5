#include "bench_data.h"

#include "wavecodec.h"

#include <cmath>
#include <cstring>

namespace bench {

namespace {

// splitmix64: a small, fast, fully deterministic generator.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Roughly normal: the sum of four uniforms in [-0.5, 0.5), scaled to unit variance.
    double normal() {
        double s = 0.0;
        for (int i = 0; i < 4; ++i) {
            s += static_cast<double>(next() >> 11) * 0x1.0p-53 - 0.5;
        }
        return s * std::sqrt(3.0);
    }
};

}  // namespace

std::vector<int32_t> seismic_trace(size_t count) {
    std::vector<int32_t> trace(count);
    Random random{20261208};
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 100.0;  // 100 samples per second
        // Events every 200 s: a decaying 1.3 Hz wave train over a 0.05 Hz swell.
        const double since = std::fmod(t, 200.0);
        const double event = 9.0e4 * std::exp(-since / 25.0) * std::sin(2.0 * pi * 1.3 * t);
        const double swell = 2.0e4 * std::sin(2.0 * pi * 0.05 * t);
        const double noise = 800.0 * random.normal();
        trace[i] = static_cast<int32_t>(std::lround(event + swell + noise));
    }
    return trace;
}

std::vector<int32_t> second_differences(size_t count) {
    std::vector<int32_t> samples = seismic_trace(count);
    diff_2nd(samples.data(), static_cast<int>(samples.size()), 0);
    return samples;
}

std::string code_section(const std::vector<int32_t> &samples) {
    std::string code(6 * samples.size(), '\0');
    size_t length = 0;
    compress_6b_chars(samples.data(), static_cast<int>(samples.size()), code.data(), code.size(),
                      &length);
    std::string text = "DAT2\n";
    text.reserve(length + length / 80 + 64);
    for (size_t at = 0; at < length; at += 80) {
        text.append(code, at, 80);
        text += '\n';
    }
    const int sum = check_sum(samples.data(), static_cast<int>(samples.size()), 0);
    text += "CHK2 " + std::to_string(sum) + "\n";
    return text;
}

char *read_memory_line(char *buffer, void *stream) {
    auto *lines = static_cast<MemoryLines *>(stream);
    if (lines->next == lines->end) {
        return nullptr;
    }
    const size_t left = static_cast<size_t>(lines->end - lines->next);
    const size_t most = left < WAVECODEC_LINE_BUFFER - 1 ? left : WAVECODEC_LINE_BUFFER - 1;
    const void *newline = std::memchr(lines->next, '\n', most);
    const size_t n = newline != nullptr
                         ? static_cast<size_t>(static_cast<const char *>(newline) - lines->next) + 1
                         : most;
    std::memcpy(buffer, lines->next, n);
    buffer[n] = '\0';
    lines->next += n;
    return buffer;
}

}  // namespace bench
