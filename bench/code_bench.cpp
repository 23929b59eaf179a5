// The six-bit code: the encoders on the second differences of the trace, the decoder on the same
// code in 80-column lines held in memory, each beside its plain reference. Items are samples;
// bytes are the characters written (encoders) or the text read (decoder).
#include "bench_data.h"
#include "forced_kernels.h"
#include "kernels.h"
#include "reference_codec.h"
#include "wavecodec.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

const std::vector<int32_t> &samples() {
    static const std::vector<int32_t> data = bench::second_differences(bench::kCodeCount);
    return data;
}

// The characters of samples(), made by the buffer encoder once.
const std::string &characters() {
    static const std::string text = [] {
        const std::vector<int32_t> &s = samples();
        std::string out(6 * s.size(), '\0');
        size_t length = 0;
        compress_6b_chars(s.data(), static_cast<int>(s.size()), out.data(), out.size(), &length);
        out.resize(length);
        return out;
    }();
    return text;
}

const std::string &section() {
    static const std::string text = bench::code_section(samples());
    return text;
}

// The writer stores into an array; the library sees it only through a pointer.
char *g_cursor = nullptr;
int store_char(int c) {
    *g_cursor++ = static_cast<char>(c);
    return c;
}

void set_rates(benchmark::State &state, size_t items, size_t bytes) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(items));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

template <int (*Encode)(const int32_t *, int, char_writer)>
void encode_to_writer(benchmark::State &state) {
    const std::vector<int32_t> &s = samples();
    std::string out(characters().size(), '\0');
    for (auto _ : state) {
        g_cursor = out.data();
        Encode(s.data(), static_cast<int>(s.size()), store_char);
        benchmark::ClobberMemory();
    }
    if (out != characters()) {
        state.SkipWithError("the writer received other characters than the buffer encoder");
    }
    set_rates(state, s.size(), out.size());
}

// The floor of compress_6b_buffer: the writer calls alone, one per character, through a pointer
// the compiler cannot see through.
void writer_calls(benchmark::State &state) {
    const std::string &text = characters();
    std::string out(text.size(), '\0');
    char_writer volatile writer = store_char;
    for (auto _ : state) {
        g_cursor = out.data();
        const char_writer w = writer;
        for (char c : text) {
            w(c);
        }
        benchmark::ClobberMemory();
    }
    set_rates(state, samples().size(), text.size());
}

void encode_to_chars(benchmark::State &state) {
    const std::vector<int32_t> &s = samples();
    std::string out(6 * s.size(), '\0');
    size_t length = 0;
    for (auto _ : state) {
        compress_6b_chars(s.data(), static_cast<int>(s.size()), out.data(), out.size(), &length);
        benchmark::ClobberMemory();
    }
    if (out.compare(0, length, characters()) != 0 || length != characters().size()) {
        state.SkipWithError("the buffer encoder is not deterministic");
    }
    set_rates(state, s.size(), length);
}

// The same characters in 80-column lines, the clamped samples counted: what a host writes.
void encode_to_lines(benchmark::State &state) {
    const std::vector<int32_t> &s = samples();
    const std::string &chars = characters();
    std::string out(6 * s.size() + s.size() / 10 + 1, '\0');
    size_t length = 0;
    int clamped = 0;
    for (auto _ : state) {
        compress_6b_lines(s.data(), static_cast<int>(s.size()), 80, nullptr, out.data(), out.size(),
                          &length, &clamped);
        benchmark::ClobberMemory();
    }
    const size_t lines = (chars.size() + 79) / 80;
    if (length != chars.size() + lines || out.compare(0, 80, chars, 0, 80) != 0 ||
        out[80] != '\n') {
        state.SkipWithError("the line encoder gave other text than the buffer encoder");
    }
    set_rates(state, s.size(), length);
}

template <int (*Decode)(int, int32_t *, line_reader, void *)>
void decode_lines(benchmark::State &state) {
    const std::string &text = section();
    const std::vector<int32_t> &expected = samples();
    std::vector<int32_t> out(expected.size(), 0);
    const int count = static_cast<int>(out.size());
    for (auto _ : state) {
        bench::MemoryLines lines{text.data(), text.data() + text.size()};
        const int n = Decode(count, out.data(), bench::read_memory_line, &lines);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    if (out != expected) {
        state.SkipWithError("decoded samples differ from the encoded ones");
    }
    set_rates(state, out.size(), text.size());
}

// The floor of the decoder's input: the reader alone going through every line.
void reader_calls(benchmark::State &state) {
    const std::string &text = section();
    char line[WAVECODEC_LINE_BUFFER];
    for (auto _ : state) {
        bench::MemoryLines lines{text.data(), text.data() + text.size()};
        while (bench::read_memory_line(line, &lines) != nullptr) {
            benchmark::DoNotOptimize(line);
        }
    }
    set_rates(state, samples().size(), text.size());
}

// Each block encoder forced under both encoders.
const bool registered = [] {
    bench::add_choice(wavecodec::encode_block_family);
    bench::register_forced(wavecodec::encode_block_family, "compress_6b_buffer",
                           encode_to_writer<compress_6b_buffer>);
    bench::register_forced(wavecodec::encode_block_family, "compress_6b_chars", encode_to_chars);
    bench::register_forced(wavecodec::encode_block_family, "compress_6b_lines", encode_to_lines);
    return true;
}();

}  // namespace

BENCHMARK(encode_to_writer<compress_6b_buffer>)
    ->Name("compress_6b_buffer/library")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(encode_to_writer<reference::compress_6b_buffer>)
    ->Name("compress_6b_buffer/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(writer_calls)->Name("compress_6b_buffer/writer_calls")->Unit(benchmark::kMillisecond);
BENCHMARK(encode_to_chars)->Name("compress_6b_chars/library")->Unit(benchmark::kMillisecond);
BENCHMARK(encode_to_lines)->Name("compress_6b_lines/library")->Unit(benchmark::kMillisecond);
BENCHMARK(decode_lines<decomp_6b_buffer>)
    ->Name("decomp_6b_buffer/library")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(decode_lines<reference::decomp_6b_buffer>)
    ->Name("decomp_6b_buffer/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(reader_calls)->Name("decomp_6b_buffer/reader_calls")->Unit(benchmark::kMillisecond);
