// samples_from_text and samples_to_text against plain references (tests/support): random texts
// and the edges (32-bit limits and one past, long overflowing words, signs, leading zeros, every
// separator), words cut at every block edge, faulty words and where they are reported, full
// buffers, null and invalid arguments; printing in one call, in pieces and into short buffers,
// and the round trip.
#include "reference_sample_text.h"
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

using reference_text::Parsed;

// One call over exactly `text` (a heap copy of its size, so that a read past it is caught by the
// sanitizers) with room for every word.
Parsed parse_whole(const std::string &text, int last = 1) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    text.copy(copy.get(), text.size());
    std::vector<int32_t> out(text.size() / 2 + 2, 0x5a5a5a5a);
    Parsed r;
    int count = -1;
    r.status = samples_from_text(copy.get(), text.size(), last, out.data(),
                                 static_cast<int>(out.size()), &count, &r.used);
    r.samples.assign(out.begin(), out.begin() + count);
    return r;
}

void expect_same(const Parsed &got, const Parsed &want, const std::string &what) {
    EXPECT_EQ(got.status, want.status) << what;
    EXPECT_EQ(got.used, want.used) << what;
    EXPECT_EQ(got.samples, want.samples) << what;
}

std::string random_text(std::mt19937 &random, size_t words) {
    static const char *const separators[] = {" ", "\n", "\r\n", "\t", "  \t", "\v", "\f", "\n\n"};
    static const char *const odd[] = {"2147483647", "-2147483648", "+0", "-0", "0007", "-000",
                                      "2147483648", "-2147483649", "99999999999999999999"};
    std::string text;
    for (size_t i = 0; i < words; ++i) {
        const unsigned kind = random() % 16;
        if (kind == 0) {
            text += odd[random() % 9];
        } else {
            const int32_t v = static_cast<int32_t>(random()) >> (random() % 32);
            if (kind == 1) {
                text += '+';
            }
            text += std::to_string(v);
        }
        text += separators[random() % 8];
    }
    return text;
}

TEST(SamplesFromText, EdgeWordsMatchTheReference) {
    const std::vector<std::pair<std::string, std::vector<int32_t>>> good = {
        {"2147483647 -2147483648", {INT32_MAX, INT32_MIN}},
        {"+0 -0 0 +2147483647", {0, 0, 0, INT32_MAX}},
        {"000000000000000000000012 -0000000000002147483648", {12, INT32_MIN}},
        {"\t1\r\n2\v3\f4 \n 5\n", {1, 2, 3, 4, 5}},
        {"", {}},
        {" \n\t\r", {}},
        {"4294967297", {}},  // 2^32 + 1: would wrap to 1 in 32 bits
    };
    for (const auto &[text, samples] : good) {
        const Parsed want = reference_text::parse(text);
        expect_same(parse_whole(text), want, text);
        if (want.status == 0) {
            EXPECT_EQ(want.samples, samples) << text;
        }
    }
    EXPECT_EQ(parse_whole("4294967297").status, -3);
    // Out of range by one, and by far (the magnitude must not wrap back into range).
    for (const char *word : {"2147483648", "-2147483649", "+2147483648", "18446744073709551617",
                             "-18446744073709551616", "4294967295", "99999999999999999999999"}) {
        const std::string text = std::string("1 2\n") + word + " 3";
        const Parsed got = parse_whole(text);
        EXPECT_EQ(got.status, -3) << word;
        EXPECT_EQ(got.used, 4u) << word;
        EXPECT_EQ(got.samples, (std::vector<int32_t>{1, 2})) << word;
    }
    // Not integers: the start of the whole word is reported, even when its digits overflow.
    for (const char *word : {"-", "+", "--1", "+-1", "1-2", "12a", "a12", "1.5", "1e3", "0x10",
                             "99999999999999999x", "1_000", "\x01", "\xb9"}) {
        const std::string text = std::string("7\t") + word + "\n8";
        const Parsed got = parse_whole(text);
        EXPECT_EQ(got.status, -1) << word;
        EXPECT_EQ(got.used, 2u) << word;
        EXPECT_EQ(got.samples, std::vector<int32_t>{7}) << word;
        expect_same(got, reference_text::parse(text), word);
    }
    // A NUL is a character like any other: not white space, not the text's end.
    const std::string with_nul("5 6\0 7", 6);
    EXPECT_EQ(parse_whole(with_nul).status, -1);
    EXPECT_EQ(parse_whole(with_nul).used, 2u);
}

TEST(SamplesFromText, RandomTextsInOneCallAndInEveryBlockSizeMatchTheReference) {
    std::mt19937 random(20);
    for (int round = 0; round < 200; ++round) {
        std::string text = random_text(random, 1 + random() % 40);
        if (round % 3 == 0) {
            text.pop_back();  // the last word runs to the end of the text
        }
        if (round % 7 == 0) {
            text.insert(random() % text.size(), 1, "x.+-"[random() % 4]);
        }
        const Parsed want = reference_text::parse(text);
        expect_same(parse_whole(text), want, text);
        for (size_t block : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{11}, size_t{64},
                             text.size()}) {
            expect_same(reference_text::parse_in_blocks(text, block), want,
                        text + " in blocks of " + std::to_string(block));
        }
    }
}

TEST(SamplesFromText, AWordReachingTheEndWaitsForTheNextBlockUnlessItIsTheLast) {
    for (const std::string text : {"10 -20 30", "10 -20 -", "10 -20 3x", "10 -20 99999999999"}) {
        const Parsed open = parse_whole(text, 0);
        EXPECT_EQ(open.status, 0) << text;
        EXPECT_EQ(open.used, 7u) << text;
        EXPECT_EQ(open.samples, (std::vector<int32_t>{10, -20})) << text;
        expect_same(parse_whole(text, 1), reference_text::parse(text), text);
    }
    // Text ending in white space leaves nothing open.
    EXPECT_EQ(parse_whole("1 2\n", 0).used, 4u);
    // Only `length` bytes are read: digits after it are not part of the last word.
    const char digits[] = "12345";
    int32_t v = 0;
    int count = 0;
    size_t used = 0;
    EXPECT_EQ(samples_from_text(digits, 2, 1, &v, 1, &count, &used), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(used, 2u);
}

TEST(SamplesFromText, AFullArrayStopsBeforeTheNextWordAndNullArgumentsAreRefused) {
    std::vector<int32_t> out(3, 0);
    int count = -1;
    size_t used = 99;
    EXPECT_EQ(samples_from_text("1 2 3 4 5", 9, 1, out.data(), 3, &count, &used), -2);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(used, 6u);
    EXPECT_EQ(out, (std::vector<int32_t>{1, 2, 3}));
    // Room for none: a text of white space still reads to its end.
    EXPECT_EQ(samples_from_text(" \n ", 3, 1, nullptr, 0, &count, &used), 0);
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(samples_from_text("1", 1, 1, nullptr, 0, &count, &used), -2);
    EXPECT_EQ(samples_from_text(nullptr, 1, 1, out.data(), 3, &count, &used), -4);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(samples_from_text("1", 1, 1, nullptr, 3, &count, &used), -4);
    EXPECT_EQ(samples_from_text(nullptr, 0, 1, out.data(), 3, nullptr, nullptr), 0);
}

// samples_to_text into a buffer of exactly `capacity` bytes, guards after it.
struct Printed {
    int result = 99;
    std::string text;
};

Printed print(const std::vector<int32_t> &samples, int per_line, size_t capacity,
              int *column = nullptr) {
    std::string out(capacity + 8, '#');
    size_t length = 12345;
    Printed p;
    p.result = samples_to_text(samples.data(), static_cast<int>(samples.size()), per_line, column,
                               out.data(), capacity, &length);
    EXPECT_LE(length, capacity);
    EXPECT_EQ(out.substr(capacity), std::string(8, '#')) << "wrote past the capacity";
    p.text = out.substr(0, std::min(length, capacity));
    return p;
}

std::vector<int32_t> edge_samples() {
    std::vector<int32_t> s = {0, -1, 1, 9, 10, -10, 99, 100, -999, INT32_MAX, INT32_MIN,
                              INT32_MIN + 1, 1000000000, 999999999, -1000000000};
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        s.push_back(static_cast<int32_t>(random()) >> (random() % 32));
    }
    return s;
}

TEST(SamplesToText, EveryLineWidthMatchesTheReferenceAndParsesBack) {
    const std::vector<int32_t> all = edge_samples();
    for (int per_line : {1, 2, 3, 7, 10, 100, 1000}) {
        for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{14}, all.size()}) {
            const std::vector<int32_t> samples(all.begin(), all.begin() + static_cast<long>(n));
            const std::string want = reference_text::format(samples, per_line);
            const Printed p = print(samples, per_line, 12 * n + 1);
            EXPECT_EQ(p.result, static_cast<int>(n)) << per_line;
            EXPECT_EQ(p.text, want) << per_line << " per line, " << n << " samples";
            const Parsed back = parse_whole(p.text);
            EXPECT_EQ(back.status, 0);
            EXPECT_EQ(back.samples, samples);
        }
    }
}

TEST(SamplesToText, PiecesCarryingTheOpenLineGiveTheTextOfOneCall) {
    const std::vector<int32_t> all = edge_samples();
    for (int per_line : {1, 3, 8}) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, size_t{64}}) {
            std::string joined;
            int column = 0;
            for (size_t at = 0; at < all.size(); at += piece) {
                const std::vector<int32_t> part(
                    all.begin() + static_cast<long>(at),
                    all.begin() + static_cast<long>(std::min(at + piece, all.size())));
                const Printed p = print(part, per_line, 12 * part.size() + 1, &column);
                EXPECT_EQ(p.result, static_cast<int>(part.size()));
                ASSERT_TRUE(column >= 0 && column < per_line);
                joined += p.text;
            }
            if (column > 0) {
                joined += '\n';
            }
            EXPECT_EQ(joined, reference_text::format(all, per_line))
                << per_line << " per line, pieces of " << piece;
        }
    }
}

TEST(SamplesToText, AShortBufferHoldsTheWholeValuesThatFit) {
    const std::vector<int32_t> samples = {5, -123, INT32_MIN, 42, 7, 0};
    for (int per_line : {1, 2, 4}) {
        const std::string full = reference_text::format(samples, per_line);
        for (size_t capacity = 0; capacity <= full.size(); ++capacity) {
            // The values whose text, with the space before and any LF after, fits.
            int fits = 0;
            size_t bytes = 0;
            for (size_t k = 1; k <= samples.size(); ++k) {
                const std::string head = reference_text::format(
                    std::vector<int32_t>(samples.begin(), samples.begin() + static_cast<long>(k)),
                    per_line);
                const bool ends = k % static_cast<size_t>(per_line) == 0 || k == samples.size();
                const size_t need = ends ? head.size() : head.size() - 1;
                if (need > capacity) {
                    break;
                }
                fits = static_cast<int>(k);
                bytes = need;
            }
            const Printed p = print(samples, per_line, capacity);
            EXPECT_EQ(p.result, fits) << capacity;
            EXPECT_EQ(p.text, full.substr(0, bytes)) << capacity;
        }
    }
}

TEST(SamplesToText, InvalidArgumentsWriteNothing) {
    const std::vector<int32_t> samples = {1, 2};
    char out[32];
    size_t length = 99;
    int column = 3;
    EXPECT_EQ(samples_to_text(samples.data(), 2, 0, nullptr, out, sizeof out, &length), -3);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(samples_to_text(samples.data(), 2, 3, &column, out, sizeof out, &length), -3);
    EXPECT_EQ(column, 3);
    column = -1;
    EXPECT_EQ(samples_to_text(samples.data(), 2, 3, &column, out, sizeof out, &length), -3);
    EXPECT_EQ(samples_to_text(nullptr, 2, 1, nullptr, out, sizeof out, &length), -1);
    EXPECT_EQ(samples_to_text(samples.data(), 2, 1, nullptr, nullptr, 10, &length), -1);
    EXPECT_EQ(samples_to_text(nullptr, 0, 1, nullptr, nullptr, 0, &length), 0);
    EXPECT_EQ(samples_to_text(samples.data(), -5, 1, nullptr, out, sizeof out, &length), 0);
    EXPECT_EQ(length, 0u);
}

}  // namespace
