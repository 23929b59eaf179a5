// Fuzz target: compress_6b_lines over arbitrary sample arrays, against compress_6b_buffer.
//
// Input: a line width (2 bytes, 0 taken as is to check the refusal), a buffer capacity (2 bytes),
// a piece size (1 byte), then the samples (4 bytes each, host byte order). Checks that
//   - one call gives the characters compress_6b_buffer hands its writer, cut into lines of the
//     width, each line ended by a LF, and counts the samples above the code's range; it stops
//     at -2147483648 with -1, the open line not ended;
//   - a buffer of `capacity` bytes holds exactly the whole samples that fit with their line ends;
//   - calls on pieces of the array, carrying the open line's column, give the same text.
#include "../common/check.h"
#include "../common/input.h"
#include "wavecodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string g_written;  // what compress_6b_buffer handed to its writer

int collect(int c) {
    g_written.push_back(static_cast<char>(c));
    return 0;
}

bool over_range(int32_t v) {
    return v > 134217727 || v < -134217727;
}

// Bytes the text of the first `k` samples takes with its line ends (not the last line's).
size_t bytes_of(const std::vector<size_t> &ends, size_t k, size_t width) {
    return ends[k] + ends[k] / width;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const int width = in.u16() % 300;
    const size_t capacity_choice = in.u16();
    const size_t piece = 1u + in.u8();
    std::vector<int32_t> samples(in.size() / 4);
    if (!samples.empty()) {
        std::memcpy(samples.data(), in.data(), samples.size() * 4);
    }
    const int n = static_cast<int>(samples.size());
    const size_t encodable = static_cast<size_t>(
        std::find(samples.begin(), samples.end(), INT32_MIN) - samples.begin());
    const int expected = encodable < samples.size() ? -1 : 0;

    const size_t most = 6 * samples.size() + 6 * samples.size() / static_cast<size_t>(width > 0 ? width : 1) + 1;
    std::unique_ptr<char[]> out(new char[most]);
    size_t length = 12345;
    int clamped = -1;
    const int result =
        compress_6b_lines(samples.data(), n, width, nullptr, out.get(), most, &length, &clamped);
    if (width == 0) {
        FUZZ_CHECK(result == -3 && length == 0 && clamped == 0, "width 0 gave %d", result);
        return 0;
    }
    const size_t w = static_cast<size_t>(width);

    g_written.clear();
    compress_6b_buffer(samples.data(), n, collect);
    std::vector<size_t> ends{0};  // characters after each whole sample
    {
        std::string one;
        for (size_t i = 0; i < encodable; ++i) {
            g_written.swap(one);
            g_written.clear();
            compress_6b_buffer(&samples[i], 1, collect);
            ends.push_back(ends.back() + g_written.size());
            g_written.swap(one);
        }
    }
    std::string want;
    for (size_t at = 0; at < g_written.size(); at += w) {
        want.append(g_written, at, w);
        if (at + w <= g_written.size() || expected == 0) {
            want.push_back('\n');
        }
    }
    const int over = static_cast<int>(
        std::count_if(samples.begin(), samples.begin() + static_cast<long>(encodable), over_range));
    FUZZ_CHECK(result == expected, "compress_6b_lines gave %d, expected %d", result, expected);
    FUZZ_CHECK(length == want.size() && std::memcmp(out.get(), want.data(), length) == 0,
               "width %d: the lines differ from the writer's characters", width);
    FUZZ_CHECK(clamped == over, "%d samples counted clamped, expected %d", clamped, over);

    // A buffer of exactly `capacity` bytes: the whole samples that fit with their line ends.
    const size_t capacity = capacity_choice % (want.size() + 1);
    size_t fits = 0;
    while (fits < encodable && bytes_of(ends, fits + 1, w) <= capacity) {
        ++fits;
    }
    size_t stored = bytes_of(ends, fits, w);
    int short_expected = fits < encodable ? -2 : expected;
    if (fits == encodable && expected == 0 && ends[fits] % w != 0) {
        // Every sample fits; the last line's end may not.
        if (stored < capacity) {
            ++stored;
        } else {
            short_expected = -2;
        }
    }
    std::unique_ptr<char[]> small(new char[capacity + 1]);
    length = 12345;
    const int into_small = compress_6b_lines(samples.data(), n, width, nullptr, small.get(),
                                             capacity, &length, nullptr);
    FUZZ_CHECK(into_small == short_expected, "capacity %zu gave %d, expected %d", capacity,
               into_small, short_expected);
    FUZZ_CHECK(length == stored && std::memcmp(small.get(), want.data(), stored) == 0,
               "capacity %zu: %zu bytes stored, expected the first %zu", capacity, length, stored);

    // The array in pieces, the open line carried from call to call.
    std::string joined;
    int column = 0;
    int total_clamped = 0;
    int status = 0;
    for (size_t at = 0; at < samples.size() && status == 0; at += piece) {
        const int k = static_cast<int>(std::min(piece, samples.size() - at));
        length = 12345;
        int c = -1;
        status = compress_6b_lines(samples.data() + at, k, width, &column, out.get(), most, &length,
                                   &c);
        FUZZ_CHECK(column >= 0 && column < width, "column %d outside the line", column);
        joined.append(out.get(), length);
        total_clamped += c;
    }
    if (status == 0 && column > 0) {
        joined.push_back('\n');
    }
    FUZZ_CHECK(status == expected, "pieces of %zu gave %d, expected %d", piece, status, expected);
    FUZZ_CHECK(joined == want, "pieces of %zu: the text differs from one call", piece);
    FUZZ_CHECK(total_clamped == over, "pieces of %zu: %d clamped, expected %d", piece,
               total_clamped, over);
    return 0;
}
