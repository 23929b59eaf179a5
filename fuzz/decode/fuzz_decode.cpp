// Fuzz target: decomp_6b_buffer over arbitrary text.
//
// Input: one byte choosing how `count` is made (bits 0-1) and whether a null array or reader is
// passed (bits 2-7), the bytes of `count`, then the text, cut into lines at its newlines. The
// sample array is sized to what the text can possibly hold and followed by guard entries; every
// entry the decoder may not touch is checked afterwards.
#include "../common/check.h"
#include "../common/input.h"
#include "../common/memory_lines.h"
#include "wavecodec.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;
constexpr size_t kGuards = 16;
// Only the first 80 columns of a line hold code, and a sample takes at least one character.
constexpr size_t kMaxSamplesPerLine = 80;

int make_count(FuzzInput &in, uint8_t mode) {
    switch (mode & 3u) {
    case 0:
        return in.u8();  // small counts: most inputs end in a real result
    case 1:
        return in.u16();
    case 2:
        return -static_cast<int>(in.u8());  // zero and below
    default:
        return static_cast<int>(static_cast<int32_t>(in.u32()));  // anything at all
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    const int count = make_count(in, mode);
    // Two of the 64 variants pass a null array or a null reader.
    const bool null_samples = (mode >> 2) == 1;
    const bool null_reader = (mode >> 2) == 2;
    const char *text = reinterpret_cast<const char *>(in.data());
    const size_t text_size = in.size();

    const size_t most = kMaxSamplesPerLine * MemoryLines::count_reads(text, text_size);
    const size_t room = count > 0 ? std::min(static_cast<size_t>(count), most) : 0;
    std::vector<int32_t> samples(room + kGuards, kUntouched);

    MemoryLines lines(text, text_size);
    const int result = decomp_6b_buffer(count, null_samples ? nullptr : samples.data(),
                                        null_reader ? nullptr : MemoryLines::read, &lines);

    if (count == 0) {
        FUZZ_CHECK(result == 0, "count 0 gave %d", result);
        FUZZ_CHECK(lines.reads() == 0, "count 0 read %zu lines", lines.reads());
    } else if (null_reader) {
        FUZZ_CHECK(result == -1, "a null reader gave %d", result);
    } else if (null_samples && count > 0) {
        FUZZ_CHECK(result == -1, "a null array with count %d gave %d", count, result);
        FUZZ_CHECK(lines.reads() == 0, "a null array made the decoder read");
    } else if (count < 0) {
        FUZZ_CHECK(result == 0 || result == -1, "count %d gave %d", count, result);
    } else {
        FUZZ_CHECK(result >= -1 && result <= count, "count %d gave %d", count, result);
        FUZZ_CHECK(result == -1 || static_cast<size_t>(result) <= room,
                   "%d samples from text that holds at most %zu", result, most);
        if (result == -1) {
            // A failure happens only at the end of input.
            FUZZ_CHECK(lines.at_end(), "failed with %zu bytes of input unread",
                       text_size - lines.position());
        }
    }

    // Nothing past the result (nothing past `count` on failure) and no guard was written.
    size_t first_untouched = room;
    if (result >= 0 && static_cast<size_t>(result) < room) {
        first_untouched = static_cast<size_t>(result);
    }
    if (null_samples || count <= 0) {
        first_untouched = 0;
    }
    for (size_t i = first_untouched; i < samples.size(); ++i) {
        FUZZ_CHECK(samples[i] == kUntouched, "entry %zu written (result %d, count %d)", i,
                   result, count);
    }
    return 0;
}
