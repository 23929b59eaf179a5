// The data-section decoder: heading search, line handling, the checksum line, failures and their
// messages, and the text end of short, blank and NUL-terminated lines.
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>

using test_support::LineSource;

namespace {

constexpr int32_t kGuard = 0x5a5a5a5a;

struct Decoded {
    int result;
    std::vector<int32_t> samples;  // the entries the call may write, then four guards
    std::string output;            // what the call printed
    size_t lines_read;             // lines taken from the source
};

Decoded decode(std::vector<std::string> lines, int count) {
    LineSource source{std::move(lines)};
    std::vector<int32_t> samples(static_cast<size_t>(std::max(count, 0)) + 4, kGuard);
    testing::internal::CaptureStdout();
    const int result = decomp_6b_buffer(count, samples.data(), LineSource::read, &source);
    std::string output = testing::internal::GetCapturedStdout();
    return {result, samples, output, source.next};
}

// The first n entries, then checks that the rest still hold the guard.
std::vector<int32_t> stored(const Decoded &d, size_t n) {
    for (size_t i = n; i < d.samples.size(); ++i) {
        EXPECT_EQ(d.samples[i], kGuard) << "entry " << i << " was touched";
    }
    return {d.samples.begin(), d.samples.begin() + static_cast<ptrdiff_t>(n)};
}

using V = std::vector<int32_t>;

TEST(Decode, CountZeroReadsNothing) {
    LineSource source{{"DAT2\n", "+\n"}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(decomp_6b_buffer(0, nullptr, LineSource::read, &source), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "decomp_6b: no action.\n");
    EXPECT_EQ(source.calls, 0);
}

TEST(Decode, HeadingSearch) {
    // Lines before the heading are skipped, blank-led and indented headings among them; a
    // heading may carry more text, and DAT1 counts too.
    auto d =
        decode({"WID2 ...\n", "   \n", " DAT2\n", "\n", "DAT2 and more\n", "-F\n", "CHK2 0\n"}, 2);
    EXPECT_EQ(d.result, 2);
    EXPECT_EQ(stored(d, 2), (V{1, -1}));
    EXPECT_EQ(d.output, "");

    d = decode({"DAT1", "D\n"}, 1);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(stored(d, 1), (V{15}));
}

TEST(Decode, MissingHeadingOrData) {
    auto d = decode({"WID2\n", "DATA\n", "CHK2 1\n"}, 3);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.output, "decomp_6b: Neither DAT2 or DAT1 found!\n");
    stored(d, 0);

    d = decode({"DAT2\n"}, 3);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.output, "decomp_6b: Whoops! No data after DAT2 or DAT1.\n");
}

TEST(Decode, NegativeCountReadsHeadingAndOneLine) {
    auto d = decode({"x\n", "DAT2\n", "+-\n", "CHK2 1\n"}, -5);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.lines_read, 3u);
    EXPECT_EQ(d.output, "");
}

TEST(Decode, StopsAfterCountWithoutReadingFurther) {
    auto d = decode({"DAT2\n", "-0123\n", "CHK2 1\n"}, 3);
    EXPECT_EQ(d.result, 3);
    EXPECT_EQ(stored(d, 3), (V{1, 2, 3}));
    EXPECT_EQ(d.lines_read, 2u);  // the checksum line is left for the caller
}

TEST(Decode, OnlyEightyColumnsCount) {
    // 85 characters: columns 80 to 84 are ignored and decoding goes on with the next line.
    const std::string line = std::string(80, '-') + "DDDDD\n";
    auto d = decode({"DAT2\n", line, "0\n", "CHK2 1\n"}, 81);
    ASSERT_EQ(d.result, 81);
    const V got = stored(d, 81);
    EXPECT_EQ(V(got.begin(), got.end() - 1), V(80, 1));
    EXPECT_EQ(got.back(), 2);
}

TEST(Decode, WhiteSpaceEndsALine) {
    // The blank ends "-0 1"; "\t2" holds no code at column 0 and is passed over; the tab ends
    // "3\tDDD"; the next sample would need a new line, and that is the checksum line.
    const std::vector<std::string> lines{"DAT2\n", "-0 1\n", "\t2\n", "3\tDDD\n", "CHK2 1\n"};
    auto d = decode(lines, 3);
    EXPECT_EQ(d.result, 3);
    EXPECT_EQ(stored(d, 3), (V{1, 2, 5}));

    d = decode(lines, 4);
    EXPECT_EQ(d.result, 3);
    EXPECT_EQ(stored(d, 3), (V{1, 2, 5}));
    EXPECT_EQ(d.output, "decomp_6b: CHK2 or CHK1 reached prematurely!\n");
}

TEST(Decode, SampleContinuesOnTheNextLine) {
    // 1000 is "Uz6"; split after "U" and after "Uz". CHK1 ends a section too.
    auto d = decode({"DAT2\n", "-U\n", "z6Uz\n", "6F\n", "CHK1 0\n"}, 4);
    EXPECT_EQ(d.result, 4);
    EXPECT_EQ(stored(d, 4), (V{1, 1000, 1000, -1}));
}

TEST(Decode, ChecksumLineInsideAContinuedSampleIsCode) {
    // "U" continues, so the next line is not tested for the checksum line: "C" (14) completes
    // the sample, "H" (19), "K" (22) and "2" (4) follow, and the blank ends the line.
    auto d = decode({"DAT2\n", "U\n", "CHK2 1\n", "-\n"}, 5);
    EXPECT_EQ(d.result, 5);
    EXPECT_EQ(stored(d, 5), (V{14, -3, -6, 4, 1}));
}

TEST(Decode, PrematureChecksumLineReturnsTheSamplesSoFar) {
    auto d = decode({"DAT2\n", "-0\n", "CHK2 1\n", "3\n"}, 10);
    EXPECT_EQ(d.result, 2);
    EXPECT_EQ(stored(d, 2), (V{1, 2}));
    EXPECT_EQ(d.output, "decomp_6b: CHK2 or CHK1 reached prematurely!\n");
    EXPECT_EQ(d.lines_read, 3u);
}

TEST(Decode, EmptySectionEndsAtTheChecksumLine) {
    // A heading followed at once by the checksum line holds no samples; the lines after it
    // (another waveform) are not read.
    auto d = decode({"DAT2\n", "CHK2 0\n", "WID2 ...\n", "DAT2\n", "-\n"}, 4);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.output, "decomp_6b: CHK2 or CHK1 reached prematurely!\n");
    EXPECT_EQ(d.lines_read, 2u);
    stored(d, 0);

    // The same after a blank first data line.
    d = decode({"DAT2\n", "\n", "CHK2 0\n", "-\n"}, 4);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.output, "decomp_6b: CHK2 or CHK1 reached prematurely!\n");
}

TEST(Decode, BlankLinesHoldNoSamples) {
    // Blank and empty lines between code lines add nothing, where a new sample is due and inside
    // a continued one; a checksum line after blank lines is still recognised where a sample is due.
    auto d =
        decode({"DAT2\n", "-\n", "\n", "   \n", "0U\n", "\n", "\r\n", "z6\n", "\n", "CHK2 5\n"}, 9);
    EXPECT_EQ(d.result, 3);
    EXPECT_EQ(stored(d, 3), (V{1, 2, 1000}));
    EXPECT_EQ(d.output, "decomp_6b: CHK2 or CHK1 reached prematurely!\n");
}

TEST(Decode, ShortLineWithoutEndOfLineEndsAtItsNul) {
    // The reader stores lines without their end-of-line character. A long line first fills the
    // buffer; the shorter lines after it must not be followed into what it left there.
    const std::string long_line(60, 'D');  // sixty 15s
    auto d = decode({"DAT2", long_line, "-", "0", "CHK2 1"}, 63);
    ASSERT_EQ(d.result, 62);
    const V got = stored(d, 62);
    EXPECT_EQ(V(got.begin(), got.begin() + 60), V(60, 15));
    EXPECT_EQ(got[60], 1);
    EXPECT_EQ(got[61], 2);

    // Inside a continued sample: "U" without end-of-line, then the rest on the next line.
    d = decode({"DAT2", long_line, "U", "z6", "-"}, 61);
    ASSERT_EQ(d.result, 61);
    EXPECT_EQ(stored(d, 61).back(), 1000);
}

TEST(Decode, InputEndingTooSoon) {
    // Where a new sample needs a line.
    auto d = decode({"DAT2\n", "-0\n"}, 3);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.output, "decomp_6b: missing input line?\n");
    EXPECT_EQ(stored(d, 2), (V{1, 2}));  // samples stored before the failure stay

    // Inside a sample that continues on the next line (blank lines do not complete it).
    d = decode({"DAT2\n", "-Uz\n", "\n"}, 3);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.output, "decomp_6b: missing input line.\n");
    EXPECT_EQ(stored(d, 1), (V{1}));
}

TEST(Decode, AnyByteDecodes) {
    // Characters outside the alphabet read as 0; the high bit is ignored (0xC4 reads as "D") and
    // never makes white space (0xA0 reads as a blank, which is value 0, not an end of line).
    auto d = decode({"DAT2\n", "!\xC4\xA0.-\n", "CHK2 1\n"}, 5);
    EXPECT_EQ(d.result, 5);
    EXPECT_EQ(stored(d, 5), (V{0, 15, 0, 0, 1}));
}

TEST(Decode, OverLongSampleWrapsIn32Bits) {
    // Eight characters ("n" is negative 3, "z" continues with 31, "T" ends with 31): 2 + 7 * 5
    // = 37 bits of magnitude, kept modulo 2^32, then negated.
    auto d = decode({"DAT2\n", "nzzzzzzT\n", "CHK2 1\n"}, 1);
    ASSERT_EQ(d.result, 1);
    uint32_t magnitude = 3;
    for (int i = 0; i < 7; ++i) {
        magnitude = magnitude * 32u + 31u;
    }
    EXPECT_EQ(stored(d, 1)[0], static_cast<int32_t>(0u - magnitude));
}

TEST(Decode, InvalidArguments) {
    LineSource source{{"DAT2\n", "-\n"}};
    int32_t sample = kGuard;
    EXPECT_EQ(decomp_6b_buffer(1, nullptr, LineSource::read, &source), -1);
    EXPECT_EQ(decomp_6b_buffer(1, &sample, nullptr, &source), -1);
    EXPECT_EQ(source.calls, 0);
    EXPECT_EQ(sample, kGuard);
    // The stream is the caller's opaque pointer: null is passed through.
    static const char *const lines[] = {"DAT2\n", "V+\n"};
    static int next = 0;
    const line_reader reader = [](char *buffer, void *stream) -> char * {
        if (stream != nullptr || next == 2) {
            return nullptr;
        }
        std::strcpy(buffer, lines[next++]);
        return buffer;
    };
    EXPECT_EQ(decomp_6b_buffer(1, &sample, reader, nullptr), 1);
    EXPECT_EQ(sample, 32);
}

}  // namespace
