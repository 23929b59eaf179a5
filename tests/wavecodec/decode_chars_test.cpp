// decomp_6b_chars against decomp_6b_buffer: the same samples from the same lines, whatever the
// text holds (random code broken at random places, blank and over-long lines, NULs, CR LF, early
// checksum lines, text ending inside a sample, every fuzz corpus file), plus the offset it
// reports and its own edges (hard end of the text, null pointers, counts of zero and below).
#include "wavecodec.h"
#include "whole_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t kGuard = 0x5a5a5a5a;

struct Outcome {
    int result;
    size_t used;
    std::vector<int32_t> samples;  // count entries and guards, as the call left them
};

Outcome run_chars(const std::string &text, int count) {
    // The text in a buffer of exactly its size, so that sanitizers catch a read past its end.
    std::vector<char> bytes(text.begin(), text.end());
    Outcome o{0, 12345, std::vector<int32_t>(static_cast<size_t>(std::max(count, 0)) + 4, kGuard)};
    o.result = decomp_6b_chars(bytes.data(), bytes.size(), count, o.samples.data(), &o.used);
    return o;
}

// Decodes `text` (the lines after the heading) with both decoders and checks that they agree:
// the same entries written, and decomp_6b_chars's result and offset as decomp_6b_buffer's outcome
// implies. Returns decomp_6b_chars's result.
int expect_same(const std::string &text, int count, const std::string &what) {
    SCOPED_TRACE(what + ", count " + std::to_string(count));
    const std::string section = "DAT2\n" + text;
    WholeLines lines{&section};
    std::vector<int32_t> expected(static_cast<size_t>(std::max(count, 0)) + 4, kGuard);
    testing::internal::CaptureStdout();
    const int buffer_result = decomp_6b_buffer(count, expected.data(), WholeLines::read, &lines);
    const std::string message = testing::internal::GetCapturedStdout();
    const size_t read_to = lines.next - 5;            // offsets in `text`
    const size_t last_start = lines.last_start - 5;

    const Outcome got = run_chars(text, count);
    EXPECT_EQ(got.samples, expected);
    if (count <= 0) {
        EXPECT_EQ(got.result, 0);
        EXPECT_EQ(got.used, 0u);
        return got.result;
    }
    if (message.find("prematurely") != std::string::npos) {
        EXPECT_EQ(got.result, buffer_result);
        EXPECT_EQ(got.used, last_start);
        EXPECT_EQ(text.compare(got.used, 3, "CHK"), 0);
    } else if (message.find("missing input line.") != std::string::npos) {
        EXPECT_EQ(got.result, -1);  // inside a sample
        EXPECT_EQ(got.used, text.size());
    } else if (message.find("missing input line?") != std::string::npos ||
               message.find("No data after") != std::string::npos) {
        // Where a new sample was due: the number stored, which the buffer decoder does not give.
        EXPECT_EQ(buffer_result, -1);
        EXPECT_GE(got.result, 0);
        EXPECT_LT(got.result, count);
        EXPECT_EQ(got.used, text.size());
    } else {
        EXPECT_EQ(message, "");
        EXPECT_EQ(got.result, buffer_result);
        EXPECT_EQ(got.result, count);
        EXPECT_EQ(got.used, read_to);
    }
    return got.result;
}

std::string encode(const std::vector<int32_t> &samples) {
    std::string out(6 * samples.size(), '\0');
    size_t length = 0;
    EXPECT_EQ(compress_6b_chars(samples.data(), static_cast<int>(samples.size()), out.data(),
                                out.size(), &length),
              0);
    out.resize(length);
    return out;
}

// Samples of every code length, mostly small as second differences are.
std::vector<int32_t> random_samples(std::mt19937 &gen, size_t n) {
    std::vector<int32_t> v(n);
    std::uniform_int_distribution<int> bits(0, 27);  // the code carries 27 bits
    for (int32_t &x : v) {
        const int b = bits(gen) % 2 == 0 ? bits(gen) % 10 : bits(gen);
        const int32_t magnitude = static_cast<int32_t>(gen() & ((1u << b) - 1u));
        x = gen() % 2 == 0 ? magnitude : -magnitude;
    }
    return v;
}

// The code broken into lines of random widths, with blank lines and CR LF endings; unless `clean`,
// with lines past 80 columns (whose tails both decoders ignore), stray white space, NULs and
// other bytes mixed in.
std::string random_lines(std::mt19937 &gen, const std::string &code, bool clean) {
    std::string text;
    size_t at = 0;
    while (at < code.size()) {
        switch (gen() % 16) {
        case 0:
            text += "\n";
            break;
        case 1:
            text += gen() % 2 == 0 ? "   \n" : "\r\n";
            break;
        case 2:
            if (clean) {
                break;
            }
            text += std::string(1, static_cast<char>(gen() % 256)) + "x\n";
            break;
        default: {
            const size_t width = std::min<size_t>(1 + gen() % (clean ? 80 : 90), code.size() - at);
            std::string line = code.substr(at, width);
            if (!clean && gen() % 8 == 0) {
                line[gen() % line.size()] = static_cast<char>(gen() % 256);  // NUL, blank, ...
            }
            at += width;
            text += line + (gen() % 4 == 0 ? "\r\n" : "\n");
        }
        }
    }
    return text;
}

TEST(DecodeChars, AgreesWithTheLineDecoderOnRandomText) {
    std::mt19937 gen(20261209);
    for (int round = 0; round < 400; ++round) {
        const std::vector<int32_t> samples = random_samples(gen, 1 + gen() % 300);
        std::string text = random_lines(gen, encode(samples), round % 8 == 0);
        const int n = static_cast<int>(samples.size());
        switch (round % 4) {
        case 0:
            text += "CHK2 123\n";
            break;
        case 1:  // cut anywhere: inside a sample, a line or a line ending
            text.resize(gen() % (text.size() + 1));
            break;
        case 2: {  // a checksum line too early, at the start of a line
            const size_t newline = text.find('\n', gen() % text.size());
            if (newline != std::string::npos) {
                text.insert(newline + 1, gen() % 2 == 0 ? "CHK2 1\n" : "CHK1 1\r\n");
            }
            break;
        }
        default:  // the last line without its newline
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                text.pop_back();
            }
        }
        const std::string what = "round " + std::to_string(round);
        for (int count : {n, n - 1 - static_cast<int>(gen() % 3), n + 1, n * 2, 1}) {
            expect_same(text, count, what);
        }
        if (round % 8 == 0) {
            // Complete, well-formed sections give back exactly what was encoded.
            const Outcome o = run_chars(text, n);
            ASSERT_EQ(o.result, n);
            EXPECT_EQ(std::vector<int32_t>(o.samples.begin(), o.samples.begin() + n), samples);
        }
    }
}

TEST(DecodeChars, AgreesWithTheLineDecoderOnEveryFuzzInput) {
    size_t files = 0;
    for (const auto &target : std::filesystem::directory_iterator(WAVELIBS_FUZZ_DIR)) {
        const auto corpus = target.path() / "corpus";
        if (!std::filesystem::is_directory(corpus)) {
            continue;
        }
        for (const auto &entry : std::filesystem::directory_iterator(corpus)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            for (int count : {1, 5, 64, 1000, 100000, 0, -3}) {
                expect_same(text, count, entry.path().string());
            }
            ++files;
        }
    }
    EXPECT_GT(files, 20u);
}

TEST(DecodeChars, UsedPointsPastTheLastCodeLineOrAtTheChecksumLine) {
    // "-" "0" on the first line, "1" on the third after a blank line, then the checksum line.
    const std::string text = "-0\n\n1\r\n\nCHK2 6\n";
    Outcome o = run_chars(text, 3);
    EXPECT_EQ(o.result, 3);
    EXPECT_EQ(o.used, 7u);  // past "1\r\n"; a blank line, then the checksum line
    o = run_chars(text, 2);
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(o.used, 3u);
    o = run_chars(text, 4);
    EXPECT_EQ(o.result, 3);
    EXPECT_EQ(o.used, 8u);  // at "CHK2 6"
    o = run_chars("-0\n1", 5);  // text ends where a sample is due: the samples it held
    EXPECT_EQ(o.result, 3);
    EXPECT_EQ(o.used, 4u);
    o = run_chars("-0\nU\n\n", 5);  // "U" continues: ends inside a sample
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.used, 6u);
    EXPECT_EQ(o.samples[1], 2);  // the complete samples are stored
}

TEST(DecodeChars, LengthIsTheHardEnd) {
    // The bytes past `length` are code that must not be taken; a line cut there has no newline.
    const std::string text = "-0Uz6DDD";
    for (size_t length = 0; length <= 5; ++length) {
        std::vector<int32_t> samples(8, kGuard);
        size_t used = 99;
        const int r = decomp_6b_chars(text.data(), length, 8, samples.data(), &used);
        EXPECT_EQ(used, length);
        const int expected[] = {0, 1, 2, -1, -1, 3};
        EXPECT_EQ(r, expected[length]) << "length " << length;
    }
    // A text whose only line is 200 columns long, near the end of the buffer: 80 samples.
    const std::string wide(200, '0');
    std::vector<int32_t> samples(100, kGuard);
    size_t used = 0;
    EXPECT_EQ(decomp_6b_chars(wide.data(), wide.size(), 100, samples.data(), &used), 80);
    EXPECT_EQ(used, 200u);
    EXPECT_EQ(samples[79], 2);
    EXPECT_EQ(samples[80], kGuard);
}

TEST(DecodeChars, ArgumentsOutsideTheDomain) {
    int32_t sample = kGuard;
    size_t used = 7;
    EXPECT_EQ(decomp_6b_chars("-", 1, 0, &sample, &used), 0);
    EXPECT_EQ(used, 0u);
    used = 7;
    EXPECT_EQ(decomp_6b_chars(nullptr, 5, -1, nullptr, &used), 0);  // nothing read
    EXPECT_EQ(used, 0u);
    used = 7;
    EXPECT_EQ(decomp_6b_chars("-", 1, 1, nullptr, &used), -1);
    EXPECT_EQ(used, 0u);
    used = 7;
    EXPECT_EQ(decomp_6b_chars(nullptr, 1, 1, &sample, &used), -1);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(sample, kGuard);
    EXPECT_EQ(decomp_6b_chars(nullptr, 0, 1, &sample, &used), 0);  // an empty text
    EXPECT_EQ(decomp_6b_chars("-", 1, 1, &sample, nullptr), 1);    // `used` is optional
    EXPECT_EQ(sample, 1);
}

}  // namespace
