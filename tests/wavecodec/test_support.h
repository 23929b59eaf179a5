// Helpers shared by the wavecodec tests: an in-memory line source for the decoder, a character
// sink for the encoder, and the encoding of whole arrays into a data section.
#ifndef WAVECODEC_TEST_SUPPORT_H
#define WAVECODEC_TEST_SUPPORT_H

#include "wavecodec.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

// Lines handed to the decoder one per reader call, as fgets would deliver them into the
// 83-byte buffer (at most 82 characters and a NUL). Counts the calls.
struct LineSource {
    std::vector<std::string> lines;
    size_t next = 0;
    int calls = 0;

    static char *read(char *buffer, void *stream) {
        auto *self = static_cast<LineSource *>(stream);
        ++self->calls;
        if (self->next == self->lines.size()) {
            return nullptr;
        }
        const std::string &line = self->lines[self->next++];
        const size_t n = std::min<size_t>(line.size(), WAVECODEC_LINE_BUFFER - 1);
        std::memcpy(buffer, line.data(), n);
        buffer[n] = '\0';
        return buffer;
    }
};

// Collects the characters handed to a char_writer (one sink per thread is enough for tests).
inline std::string &sink() {
    static std::string chars;
    return chars;
}

inline int collect(int c) {
    sink().push_back(static_cast<char>(c));
    return c;
}

// Characters compress_6b_buffer writes for `samples`; `result` receives its return value.
inline std::string encode(const std::vector<int32_t> &samples, int *result = nullptr) {
    sink().clear();
    const int r = compress_6b_buffer(samples.data(), static_cast<int>(samples.size()), collect);
    if (result != nullptr) {
        *result = r;
    }
    return sink();
}

// A data section: "DAT2", the code in lines of `width` characters, "CHK2 " and its number.
inline std::vector<std::string> data_section(const std::string &code, size_t width = 80) {
    std::vector<std::string> lines{"DAT2\n"};
    for (size_t at = 0; at < code.size(); at += width) {
        lines.push_back(code.substr(at, width) + "\n");
    }
    lines.push_back("CHK2 12345\n");
    return lines;
}

}  // namespace test_support

#endif
