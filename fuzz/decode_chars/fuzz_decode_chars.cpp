// Fuzz target: decomp_6b_chars over arbitrary text, with every line kernel this CPU runs, against
// decomp_6b_buffer over the same lines.
//
// Input: one byte choosing how `count` is made (bits 0-1, as the decode target) and whether a
// null array is passed (bits 2-7 equal to 1), the bytes of `count`, then the text (the lines after
// the heading). The text is copied into a buffer of exactly its size, so that a read past
// `length` is caught by the sanitizers.
#include "../common/check.h"
#include "../common/input.h"
#include "../common/whole_lines.h"
#include "decode_line.h"
#include "kernels.h"
#include "wavecodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;
constexpr size_t kGuards = 16;

int make_count(FuzzInput &in, uint8_t mode) {
    switch (mode & 3u) {
    case 0:
        return in.u8();
    case 1:
        return in.u16();
    case 2:
        return -static_cast<int>(in.u8());
    default:
        return static_cast<int>(static_cast<int32_t>(in.u32()));
    }
}

struct Outcome {
    int result;
    size_t used;
    std::vector<int32_t> samples;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    const int count = make_count(in, mode);
    const bool null_samples = (mode >> 2) == 1;
    const std::vector<char> text(in.data(), in.data() + in.size());
    const size_t length = text.size();

    // A line gives at most 80 samples; one sample takes at least one byte.
    const auto newlines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    const size_t most = std::min<size_t>(length, 80 * (newlines + 1));
    const size_t room = count > 0 ? std::min(static_cast<size_t>(count), most) : 0;

    std::vector<Outcome> outcomes;
    auto &family = wavecodec::decode_line_family;
    for (const auto &kernel : family.kernels()) {
        if (!cpu::usable(kernel)) {
            continue;
        }
        family.force(kernel);
        Outcome o{0, 0, std::vector<int32_t>(room + kGuards, kUntouched)};
        // An empty text is passed as a null pointer, which is allowed with length 0.
        o.result = decomp_6b_chars(length == 0 ? nullptr : text.data(), length, count,
                                   null_samples ? nullptr : o.samples.data(), &o.used);
        outcomes.push_back(o);
    }
    family.reset();
    const Outcome &first = outcomes.front();
    for (const Outcome &o : outcomes) {
        FUZZ_CHECK(o.result == first.result && o.used == first.used && o.samples == first.samples,
                   "the line kernels disagree (results %d and %d)", first.result, o.result);
    }

    const int result = first.result;
    const size_t used = first.used;
    FUZZ_CHECK(used <= length, "used %zu of %zu bytes", used, length);
    if (count <= 0 || (null_samples && count > 0)) {
        FUZZ_CHECK(result == (count <= 0 ? 0 : -1) && used == 0, "count %d gave %d, used %zu",
                   count, result, used);
    } else {
        FUZZ_CHECK(result >= -1 && result <= count, "count %d gave %d", count, result);
        FUZZ_CHECK(result == -1 || static_cast<size_t>(result) <= room,
                   "%d samples from text that holds at most %zu", result, most);
        if (result == count) {
            FUZZ_CHECK(used == length || text[used - 1] == '\n', "used %zu is inside a line", used);
        } else if (used != length) {
            FUZZ_CHECK(result >= 0 && std::memcmp(text.data() + used, "CHK", 3) == 0,
                       "stopped early (%d) at %zu, not at a checksum line", result, used);
        }

        // The line decoder over the same lines stores the same samples.
        const std::string section = "DAT2\n" + std::string(text.begin(), text.end());
        WholeLines lines{&section};
        std::vector<int32_t> expected(room + kGuards, kUntouched);
        const int line_result = decomp_6b_buffer(count, expected.data(), WholeLines::read, &lines);
        FUZZ_CHECK(expected == first.samples, "the line decoder stored other samples");
        FUZZ_CHECK(line_result == result || (line_result == -1 && used == length),
                   "line decoder %d, chars %d", line_result, result);
    }
    // Nothing past the samples stored (past `room` after a failure) and no guard was written.
    const size_t untouched = result >= 0 ? static_cast<size_t>(result) : room;
    for (size_t i = untouched; i < first.samples.size(); ++i) {
        FUZZ_CHECK(first.samples[i] == kUntouched, "entry %zu written (result %d, count %d)", i,
                   result, count);
    }
    return 0;
}
