// Every line-decoder kernel against the portable one: called directly on lines of arbitrary
// bytes, with the text ending at every column (across the 32- and 64-column vector edges), samples
// open from an earlier line, and every room; then forced under decomp_6b_chars and
// decomp_6b_buffer. A kernel this build or CPU cannot run is skipped with the reason.
#include "decode_line.h"
#include "kernels.h"
#include "wavecodec.h"
#include "forced_kernel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using wavecodec::decode_line_family;
using wavecodec::DecodeLineFn;
using wavecodec::OpenSample;

const cpu::Kernel<DecodeLineFn> &portable() {
    return decode_line_family.kernels().back();
}

class DecodeKernel : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        KERNEL_OR_SKIP(kernel, decode_line_family);
        kernel_ = kernel;
    }
    void TearDown() override { decode_line_family.reset(); }

    const cpu::Kernel<DecodeLineFn> *kernel_ = nullptr;
};

struct LineResult {
    int stored;
    std::vector<int32_t> out;
    OpenSample open;
};

LineResult run_line(DecodeLineFn kernel, const std::string &line, int room, OpenSample open) {
    LineResult r{0, std::vector<int32_t>(88, 0x5a5a5a5a), open};
    r.stored = kernel(line.data(), r.out.data(), room, r.open);
    return r;
}

void expect_same_line(DecodeLineFn kernel, const std::string &line, int room, OpenSample open) {
    const LineResult want = run_line(portable().run, line, room, open);
    const LineResult got = run_line(kernel, line, room, open);
    ASSERT_EQ(got.stored, want.stored);
    EXPECT_EQ(got.out, want.out);
    if (got.stored < room) {
        EXPECT_EQ(got.open.open, want.open.open);
        EXPECT_EQ(got.open.negative, want.open.negative);
        EXPECT_EQ(got.open.magnitude, want.open.magnitude);
    }
}

// Code characters, mostly short samples, as encoded text has them.
char code_char(std::mt19937 &gen) {
    static const char alphabet[] =
        "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return alphabet[gen() % (gen() % 3 == 0 ? 64 : 32)];
}

TEST_P(DecodeKernel, AgreesWithPortableWhereverTheTextEnds) {
    std::mt19937 gen(7);
    const char enders[] = {'\0', ' ', '\t', '\n', '\v', '\f', '\r'};
    for (int round = 0; round < 40; ++round) {
        std::string line(wavecodec::kLineRead, '\0');
        for (char &c : line) {
            c = code_char(gen);
        }
        for (size_t end = 0; end < wavecodec::kLineRead; ++end) {
            std::string cut = line;
            cut[end] = enders[gen() % sizeof enders];
            OpenSample open;
            if (gen() % 3 == 0) {
                open = {true, gen() % 2 == 0, static_cast<uint32_t>(gen())};
            }
            const int room = gen() % 4 == 0 ? 1 + static_cast<int>(gen() % 80) : 80;
            SCOPED_TRACE("round " + std::to_string(round) + ", text end " + std::to_string(end));
            expect_same_line(kernel_->run, cut, room, open);
        }
    }
}

TEST_P(DecodeKernel, AgreesWithPortableOnAnyBytes) {
    std::mt19937 gen(8);
    for (int round = 0; round < 3000; ++round) {
        std::string line(wavecodec::kLineRead, '\0');
        for (char &c : line) {
            // Any byte now and then (white space, NUL, high-bit bytes); long samples at times.
            const uint32_t pick = static_cast<uint32_t>(gen() % 16);
            c = pick == 0 ? static_cast<char>(gen() % 256) : pick == 1 ? 'z' : code_char(gen);
        }
        OpenSample open;
        if (round % 2 == 0) {
            open = {true, round % 4 == 0, static_cast<uint32_t>(gen())};
        }
        SCOPED_TRACE("round " + std::to_string(round));
        expect_same_line(kernel_->run, line, 1 + static_cast<int>(gen() % 80), open);
    }
    // Every byte value in every column position of the first vector.
    for (int c = 0; c < 256; ++c) {
        std::string line(wavecodec::kLineRead, '\0');
        for (size_t i = 0; i < 80; ++i) {
            line[i] = i % 3 == 2 ? static_cast<char>(c) : '-';
        }
        expect_same_line(kernel_->run, line, 80, OpenSample{});
    }
}

TEST_P(DecodeKernel, ForcedUnderBothDecoders) {
    // A section with long samples, blank and long lines, through each decoder with this kernel
    // and with the portable one.
    std::mt19937 gen(9);
    std::string text;
    for (int line = 0; line < 300; ++line) {
        const size_t width = gen() % 8 == 0 ? 0 : 1 + gen() % 90;
        for (size_t i = 0; i < width; ++i) {
            text += gen() % 50 == 0 ? ' ' : code_char(gen);
        }
        text += gen() % 4 == 0 ? "\r\n" : "\n";
    }
    const int count = 20000;
    auto decode = [&](const cpu::Kernel<DecodeLineFn> &k, bool chars, int &result) {
        decode_line_family.force(k);
        std::vector<int32_t> out(count, 0);
        if (chars) {
            size_t used = 0;
            result = decomp_6b_chars(text.data(), text.size(), count, out.data(), &used);
        } else {
            // Whole lines from the text, after a heading.
            struct Lines {
                std::string section;
                size_t next;
            } lines{"DAT2\n" + text, 0};
            auto read = [](char *buffer, void *stream) -> char * {
                auto *l = static_cast<Lines *>(stream);
                if (l->next == l->section.size()) {
                    return nullptr;
                }
                const size_t end = l->section.find('\n', l->next) + 1;
                const size_t n = std::min<size_t>(end - l->next, WAVECODEC_LINE_BUFFER - 1);
                l->section.copy(buffer, n, l->next);
                buffer[n] = '\0';
                l->next = end;
                return buffer;
            };
            testing::internal::CaptureStdout();
            result = decomp_6b_buffer(count, out.data(), read, &lines);
            testing::internal::GetCapturedStdout();
        }
        decode_line_family.reset();
        return out;
    };
    for (bool chars : {true, false}) {
        int want_result = 0, got_result = 0;
        const std::vector<int32_t> want = decode(portable(), chars, want_result);
        const std::vector<int32_t> got = decode(*kernel_, chars, got_result);
        EXPECT_EQ(got_result, want_result);
        if (chars) {
            EXPECT_GT(want_result, 1000);  // the text ends where a sample is due
        }
        EXPECT_EQ(got, want) << (chars ? "decomp_6b_chars" : "decomp_6b_buffer");
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DecodeKernel,
                         testing::ValuesIn(testing_support::kernel_names(decode_line_family)),
                         [](const testing::TestParamInfo<std::string> &param) {
                             return param.param;
                         });

}  // namespace
