// WholeLines: a line_reader over a text that delivers whole lines, as a reader that reads a line
// entirely would: up to and including the LF, at most 82 bytes kept (the rest of a longer line is
// dropped), then a NUL. It records where the last line it delivered starts, so that a caller can
// compare decomp_6b_chars's `used` with what the line decoder consumed.
#ifndef WAVELIBS_FUZZ_WHOLE_LINES_H
#define WAVELIBS_FUZZ_WHOLE_LINES_H

#include "wavecodec.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

struct WholeLines {
    const std::string *text;
    size_t next = 0;
    size_t last_start = 0;

    static char *read(char *buffer, void *stream) {
        auto *self = static_cast<WholeLines *>(stream);
        const std::string &t = *self->text;
        if (self->next == t.size()) {
            return nullptr;
        }
        const size_t newline = t.find('\n', self->next);
        const size_t end = newline == std::string::npos ? t.size() : newline + 1;
        const size_t n = std::min<size_t>(end - self->next, WAVECODEC_LINE_BUFFER - 1);
        std::memcpy(buffer, t.data() + self->next, n);
        buffer[n] = '\0';
        self->last_start = self->next;
        self->next = end;
        return buffer;
    }
};

#endif
