// MemoryLines: a line_reader over a block of memory that behaves like fgets into the decoder's
// 83-byte buffer: each call copies the next line up to and including its newline, at most 82
// bytes (a longer line comes back in pieces), then a NUL, and nothing else of the buffer.
// It records how it was used so that a fuzz target can check the decoder's side of the contract.
#ifndef WAVELIBS_FUZZ_MEMORY_LINES_H
#define WAVELIBS_FUZZ_MEMORY_LINES_H

#include "check.h"
#include "wavecodec.h"

#include <cstddef>
#include <cstring>

class MemoryLines {
public:
    static constexpr size_t kMaxChars = WAVECODEC_LINE_BUFFER - 1;

    MemoryLines(const char *text, size_t size) : text_(text), size_(size) {}

    // The line_reader handed to the decoder, with a MemoryLines as its stream.
    static char *read(char *buffer, void *stream) {
        return static_cast<MemoryLines *>(stream)->next(buffer);
    }

    // Number of reads that return a line, i.e. how many lines (pieces) the text holds.
    static size_t count_reads(const char *text, size_t size) {
        MemoryLines lines(text, size);
        size_t reads = 0;
        while (lines.advance() != 0) {
            ++reads;
        }
        return reads;
    }

    size_t reads() const { return reads_; }
    size_t position() const { return position_; }
    bool at_end() const { return position_ == size_; }

private:
    // Moves past the next line (piece) and returns its length; 0 at the end of the text.
    size_t advance() {
        size_t n = 0;
        while (position_ + n < size_ && n < kMaxChars) {
            if (text_[position_ + n++] == '\n') {
                break;
            }
        }
        position_ += n;
        return n;
    }

    char *next(char *buffer) {
        FUZZ_CHECK(!ended_, "the decoder called its line reader again after the end of input");
        const size_t start = position_;
        const size_t n = advance();
        if (n == 0) {
            ended_ = true;
            return nullptr;
        }
        std::memcpy(buffer, text_ + start, n);
        buffer[n] = '\0';
        ++reads_;
        return buffer;
    }

    const char *text_;
    size_t size_;
    size_t position_ = 0;
    size_t reads_ = 0;
    bool ended_ = false;
};

#endif
