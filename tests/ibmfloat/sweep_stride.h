// IBMFLOAT_SWEEP_STRIDE=N makes the exhaustive sweeps check only every N-th word (for valgrind or
// emulated runs).
#ifndef IBMFLOAT_TEST_SWEEP_STRIDE_H
#define IBMFLOAT_TEST_SWEEP_STRIDE_H

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

inline constexpr uint64_t kWordCount = uint64_t{1} << 32;

// The stride from the environment; 0 (with a message) when it is set but not a positive integer.
inline uint64_t sweep_stride(std::string &error) {
    const char *text = std::getenv("IBMFLOAT_SWEEP_STRIDE");
    if (text == nullptr || *text == '\0') {
        return 1;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value == 0 || value >= kWordCount) {
        error = std::string("IBMFLOAT_SWEEP_STRIDE must be an integer from 1 to 2^32 - 1, not '") +
                text + "'";
        return 0;
    }
    return value;
}

#endif
