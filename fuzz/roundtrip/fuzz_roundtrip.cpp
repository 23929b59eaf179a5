// Fuzz target: round trips of arbitrary sample arrays through the codec.
//
// Input: a line width, a buffer capacity and four cut points, then the samples (4 bytes each,
// host byte order). Checks that
//   - compress_6b_buffer and compress_6b_chars give the same characters, as many per sample as
//     the magnitude needs, stopping at -2147483648 with -1;
//   - compress_6b_chars into a short buffer stores exactly the whole samples that fit;
//   - the characters cut into lines between "DAT2" and "CHK2 " lines decode to the clamped
//     samples, leaving the checksum line unread; one sample more than encoded ends at it;
//   - diff_2nd matches the definition of second differences, gives the same block by block,
//     diff_2nd_r gives the same with the caller's state (left holding the last two samples),
//     and rem_2nd_diff undoes it;
//   - check_sum in blocks equals one call and stays within eight digits.
#include "../common/check.h"
#include "../common/input.h"
#include "../common/memory_lines.h"
#include "wavecodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;
constexpr uint32_t kMaxMagnitude = 134217727;

std::string g_written;  // what compress_6b_buffer handed to its writer

int collect(int c) {
    g_written.push_back(static_cast<char>(c));
    return 0;
}

// Characters of one encodable sample: one, plus one for every five bits of the magnitude.
size_t chars_of(int32_t sample) {
    uint32_t magnitude = sample < 0 ? 0u - static_cast<uint32_t>(sample)
                                    : static_cast<uint32_t>(sample);
    magnitude = std::min(magnitude, kMaxMagnitude);
    return static_cast<size_t>(std::bit_width(magnitude)) / 5u + 1u;
}

int32_t clamped(int32_t sample) {
    const int32_t limit = static_cast<int32_t>(kMaxMagnitude);
    return std::clamp(sample, -limit, limit);
}

// The array cut into consecutive blocks at the given points (sorted, at most `n`).
std::vector<std::pair<size_t, size_t>> blocks(std::array<size_t, 4> cuts, size_t n) {
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::pair<size_t, size_t>> out;
    size_t begin = 0;
    for (size_t cut : cuts) {
        out.emplace_back(begin, cut - begin);
        begin = cut;
    }
    out.emplace_back(begin, n - begin);
    return out;
}

void check_encoding(const std::vector<int32_t> &samples, size_t encodable, size_t capacity) {
    const int n = static_cast<int>(samples.size());
    const int expected = encodable < samples.size() ? -1 : 0;

    g_written.clear();
    const int by_writer = compress_6b_buffer(samples.data(), n, collect);
    FUZZ_CHECK(by_writer == expected, "compress_6b_buffer gave %d, expected %d", by_writer,
               expected);
    size_t want = 0;
    for (size_t i = 0; i < encodable; ++i) {
        want += chars_of(samples[i]);
    }
    FUZZ_CHECK(g_written.size() == want, "%zu characters for %zu samples, expected %zu",
               g_written.size(), encodable, want);

    // The whole array into a buffer of exactly the largest size it can need.
    const size_t full = 6 * samples.size();
    std::unique_ptr<char[]> out(new char[full]);
    size_t length = 12345;
    const int into_buffer = compress_6b_chars(samples.data(), n, out.get(), full, &length);
    FUZZ_CHECK(into_buffer == expected, "compress_6b_chars gave %d, expected %d", into_buffer,
               expected);
    FUZZ_CHECK(length == want && std::memcmp(out.get(), g_written.data(), want) == 0,
               "compress_6b_chars and compress_6b_buffer differ");

    // A buffer of exactly `capacity` bytes: the samples that fit whole, then -2.
    size_t fits = 0;
    int short_expected = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i == encodable) {
            short_expected = -1;
            break;
        }
        if (fits + chars_of(samples[i]) > capacity) {
            short_expected = -2;
            break;
        }
        fits += chars_of(samples[i]);
    }
    std::unique_ptr<char[]> small(new char[capacity]);
    length = 12345;
    const int into_small = compress_6b_chars(samples.data(), n, small.get(), capacity, &length);
    FUZZ_CHECK(into_small == short_expected, "capacity %zu gave %d, expected %d", capacity,
               into_small, short_expected);
    FUZZ_CHECK(length == fits && std::memcmp(small.get(), g_written.data(), fits) == 0,
               "capacity %zu: %zu characters stored, expected the first %zu", capacity, length,
               fits);
}

void check_decoding(const std::vector<int32_t> &samples, size_t encodable, size_t width) {
    std::string text = "DAT2\n";
    for (size_t at = 0; at < g_written.size(); at += width) {
        text.append(g_written, at, width);
        text.push_back('\n');
    }
    const std::string checksum_line = "CHK2 12345678\n";
    text += checksum_line;

    // Exactly the encoded samples: the checksum line stays unread.
    const int count = static_cast<int>(encodable);
    std::unique_ptr<int32_t[]> decoded(new int32_t[encodable + 1]);
    std::fill_n(decoded.get(), encodable + 1, kUntouched);
    MemoryLines lines(text.data(), text.size());
    const int result = decomp_6b_buffer(count, decoded.get(), MemoryLines::read, &lines);
    FUZZ_CHECK(result == count, "decoded %d of %d samples", result, count);
    for (size_t i = 0; i < encodable; ++i) {
        FUZZ_CHECK(decoded[i] == clamped(samples[i]), "sample %zu: %d decoded as %d", i,
                   samples[i], decoded[i]);
    }
    FUZZ_CHECK(decoded[encodable] == kUntouched, "an entry past the samples was written");
    if (count > 0) {
        FUZZ_CHECK(text.size() - lines.position() == checksum_line.size(),
                   "the decoder stopped %zu bytes before the end, not at the checksum line",
                   text.size() - lines.position());
    }

    // One sample more than there is: the checksum line ends the call.
    std::fill_n(decoded.get(), encodable + 1, kUntouched);
    MemoryLines again(text.data(), text.size());
    const int short_result = decomp_6b_buffer(count + 1, decoded.get(), MemoryLines::read, &again);
    FUZZ_CHECK(short_result == count, "asked for %d of %d samples, got %d", count + 1, count,
               short_result);
    FUZZ_CHECK(decoded[encodable] == kUntouched, "the missing sample was stored");
}

void check_differences(const std::vector<int32_t> &samples,
                       const std::vector<std::pair<size_t, size_t>> &parts) {
    const size_t n = samples.size();
    std::vector<int32_t> whole = samples;
    diff_2nd(whole.data(), static_cast<int>(n), 0);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t x = static_cast<uint32_t>(samples[i]);
        const uint32_t x1 = i >= 1 ? static_cast<uint32_t>(samples[i - 1]) : 0u;
        const uint32_t x2 = i >= 2 ? static_cast<uint32_t>(samples[i - 2]) : 0u;
        const int32_t d = static_cast<int32_t>(x - 2u * x1 + x2);
        FUZZ_CHECK(whole[i] == d, "difference %zu is %d, expected %d", i, whole[i], d);
    }

    std::vector<int32_t> blockwise = samples;
    for (size_t b = 0; b < parts.size(); ++b) {
        diff_2nd(blockwise.data() + parts[b].first, static_cast<int>(parts[b].second),
                 b == 0 ? 0 : 1);
    }
    FUZZ_CHECK(blockwise == whole, "block by block differences differ from one call");

    // The same blocks with the caller's state, each continued from its two samples before.
    std::vector<int32_t> own_state = samples;
    diff_2nd_state state{kUntouched, kUntouched};
    for (size_t b = 0; b < parts.size(); ++b) {
        const auto [begin, length] = parts[b];
        FUZZ_CHECK(diff_2nd_r(&state, own_state.data() + begin, static_cast<int>(length),
                              b == 0 ? 0 : 1) == 0,
                   "diff_2nd_r refused block %zu", b);
        const size_t end = begin + length;
        const int32_t second_last = end >= 2 ? samples[end - 2] : 0;
        const int32_t last = end >= 1 ? samples[end - 1] : 0;
        FUZZ_CHECK(state.second_last == second_last && state.last == last,
                   "diff_2nd_r state after block %zu is %d,%d, expected %d,%d", b,
                   state.second_last, state.last, second_last, last);
    }
    FUZZ_CHECK(own_state == whole, "diff_2nd_r block by block differs from diff_2nd");

    rem_2nd_diff(whole.data(), static_cast<int>(n));
    FUZZ_CHECK(whole == samples, "rem_2nd_diff did not restore the samples");
}

void check_checksum(const std::vector<int32_t> &samples,
                    const std::vector<std::pair<size_t, size_t>> &parts) {
    const int whole = check_sum(samples.data(), static_cast<int>(samples.size()), 0);
    FUZZ_CHECK(whole >= -99999999 && whole <= 99999999, "checksum %d has nine digits", whole);
    int running = 0;
    for (const auto &[begin, length] : parts) {
        running = check_sum(samples.data() + begin, static_cast<int>(length), running);
    }
    FUZZ_CHECK(running == whole, "checksum in blocks %d, in one call %d", running, whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const size_t width = 1u + in.u8() % 80u;
    const size_t capacity_choice = in.u16();
    std::array<uint16_t, 4> raw_cuts{in.u16(), in.u16(), in.u16(), in.u16()};

    std::vector<int32_t> samples(in.size() / 4);
    if (!samples.empty()) {
        std::memcpy(samples.data(), in.data(), samples.size() * 4);
    }
    const size_t n = samples.size();
    const size_t encodable = static_cast<size_t>(
        std::find(samples.begin(), samples.end(), INT32_MIN) - samples.begin());
    std::array<size_t, 4> cuts{};
    for (size_t i = 0; i < cuts.size(); ++i) {
        cuts[i] = raw_cuts[i] % (n + 1);
    }
    const auto parts = blocks(cuts, n);

    check_encoding(samples, encodable, capacity_choice % (6 * n + 1));
    check_decoding(samples, encodable, width);
    check_differences(samples, parts);
    check_checksum(samples, parts);
    return 0;
}
