// The inner decoding step shared by decomp_6b_buffer and decomp_6b_chars: the six-bit code of one
// line's text, with a sample that may continue from an earlier line and go on in a later one.
#ifndef WAVECODEC_DECODE_LINE_H
#define WAVECODEC_DECODE_LINE_H

#include "sixbit_code.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wavecodec {

// Only the first 80 columns of a code line count.
inline constexpr int kColumns = 80;
// Bytes a line kernel may read from the start of a line: the 80 columns and the rest of the last
// vector load. The caller pads a shorter line (zeros end its text).
inline constexpr size_t kLineRead = 96;

// Marks, in kCharValue, a byte that ends a line's text.
inline constexpr int8_t kTextEnd = -1;

struct CharValueTable {
    int8_t value[256];
};

// Each byte's code value (high bit ignored, so it decodes like its low seven bits), or kTextEnd
// for NUL and the C locale's white space (blank, \t, \n, \v, \f, \r). One look-up both ends the
// text and decodes.
inline constexpr CharValueTable kCharValue = [] {
    CharValueTable t{};
    for (unsigned c = 0; c < 256; ++c) {
        t.value[c] = static_cast<int8_t>(kDecode.value[c & 0x7fu]);
    }
    constexpr unsigned char ends[] = {0, '\t', '\n', '\v', '\f', '\r', ' '};
    for (unsigned char c : ends) {
        t.value[c] = kTextEnd;
    }
    return t;
}();

inline bool ends_text(char c) {
    return kCharValue.value[static_cast<unsigned char>(c)] == kTextEnd;
}

// Whether a line's text is empty (it holds no code and is passed over).
inline bool is_empty_text(const char *line) {
    return ends_text(line[0]);
}

// A sample whose characters go on in the next line that holds code.
struct OpenSample {
    bool open = false;
    bool negative = false;
    uint32_t magnitude = 0;
};

// The line kernels (kernels.h, family decode_line_family) decode the text of the line at `line`
// (kLineRead readable bytes; the text ends at column 80 or at its first NUL or white space) into
// `out`, at most `room` samples (room > 0). A sample open from an earlier line is completed
// first; a sample still open at the text's end is left in `open`. They return the number of
// samples stored; once `room` are stored, the rest of the line is ignored and `open` is
// meaningless.

}  // namespace wavecodec

#endif
