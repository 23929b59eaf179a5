// Fuzz target: samples_from_text and samples_to_text against the plain references
// (tests/support/reference_sample_text.h).
//
// Input: a block size (1 byte, 0 for the whole text in one block), a line width (1 byte, 0 taken
// as is to check the refusal), a piece size (1 byte), then bytes used twice: as sample text and
// as int32 samples (4 bytes each, host byte order). Checks that
//   - the text parsed in one call, and in blocks with the unread tail carried, gives the
//     reference's samples, status and stopping offset;
//   - a call that does not end the text stops at the start of a word that reaches its end;
//   - the samples printed in one call are the reference's lines, parse back to the samples, and
//     printing in pieces with the open line carried gives the same text.
#include "../common/check.h"
#include "../common/input.h"
#include "reference_sample_text.h"
#include "wavecodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const size_t block = in.u8();
    const int per_line = in.u8();
    const size_t piece = 1u + in.u8();
    const std::string text(reinterpret_cast<const char *>(in.data()), in.size());

    const reference_text::Parsed want = reference_text::parse(text);
    const reference_text::Parsed whole = reference_text::parse_in_blocks(text, text.size() + 1);
    FUZZ_CHECK(whole.status == want.status && whole.used == want.used &&
                   whole.samples == want.samples,
               "one call: status %d at %zu, reference %d at %zu", whole.status, whole.used,
               want.status, want.used);
    if (block > 0) {
        const reference_text::Parsed blocks = reference_text::parse_in_blocks(text, block);
        FUZZ_CHECK(blocks.status == want.status && blocks.used == want.used &&
                       blocks.samples == want.samples,
                   "blocks of %zu: status %d at %zu, reference %d at %zu", block, blocks.status,
                   blocks.used, want.status, want.used);
    }
    {
        // Not the end of the text: parsing stops at the start of a word reaching the end.
        std::unique_ptr<char[]> copy(new char[text.size() + 1]);
        text.copy(copy.get(), text.size());
        std::vector<int32_t> out(text.size() / 2 + 1);
        int count = -1;
        size_t used = 0;
        const int status = samples_from_text(copy.get(), text.size(), 0, out.data(),
                                             static_cast<int>(out.size()), &count, &used);
        size_t open = text.size();
        while (open > 0 && !reference_text::is_white(text[open - 1])) {
            --open;
        }
        if (status == 0) {
            FUZZ_CHECK(open == text.size() ? used == text.size() : used == open,
                       "an open text stopped at %zu, the last word starts at %zu", used, open);
            const reference_text::Parsed head = reference_text::parse(text.substr(0, used));
            FUZZ_CHECK(head.status == 0 && head.samples ==
                                               std::vector<int32_t>(out.begin(), out.begin() + count),
                       "an open text gave other samples than its whole words");
        } else {
            FUZZ_CHECK(status == want.status && used == want.used && used < open,
                       "an open text gave %d at %zu, reference %d at %zu", status, used,
                       want.status, want.used);
        }
    }

    std::vector<int32_t> samples(in.size() / 4);
    if (!samples.empty()) {
        std::memcpy(samples.data(), in.data(), samples.size() * 4);
    }
    const int n = static_cast<int>(samples.size());
    const size_t capacity = 12 * samples.size() + 1;
    std::unique_ptr<char[]> out(new char[capacity]);
    size_t length = 12345;
    const int printed = samples_to_text(samples.data(), n, per_line, nullptr, out.get(), capacity,
                                        &length);
    if (per_line == 0) {
        FUZZ_CHECK(printed == -3 && length == 0, "a line width of 0 gave %d", printed);
        return 0;
    }
    const std::string lines = reference_text::format(samples, per_line);
    FUZZ_CHECK(printed == n && std::string(out.get(), length) == lines,
               "%d per line: %d printed, the text differs from the reference", per_line, printed);
    const reference_text::Parsed back = reference_text::parse(lines);
    FUZZ_CHECK(back.status == 0 && back.samples == samples, "the printed text parses otherwise");

    std::string joined;
    int column = 0;
    for (size_t at = 0; at < samples.size(); at += piece) {
        const int k = static_cast<int>(std::min(piece, samples.size() - at));
        length = 12345;
        const int done = samples_to_text(samples.data() + at, k, per_line, &column, out.get(),
                                         12 * static_cast<size_t>(k) + 1, &length);
        FUZZ_CHECK(done == k && column >= 0 && column < per_line,
                   "a piece of %d printed %d, column %d", k, done, column);
        joined.append(out.get(), length);
    }
    if (column > 0) {
        joined.push_back('\n');
    }
    FUZZ_CHECK(joined == lines, "pieces of %zu: the text differs from one call", piece);
    return 0;
}
