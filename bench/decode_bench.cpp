// The decoders with each line kernel forced: decomp_6b_buffer (lines from memory through the
// reader, as code_bench.cpp's library and reference entries) and decomp_6b_chars (the code lines
// at once, as a host holding the file in memory calls it), on the same 1 Mi samples of code in
// 80-column lines. Items are samples; bytes are the characters of the text. The run's context
// names the kernel the decoders choose by themselves ("kernel.decode_line").
#include "bench_data.h"
#include "forced_kernels.h"
#include "kernels.h"
#include "wavecodec.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

const std::vector<int32_t> &samples() {
    static const std::vector<int32_t> data = bench::second_differences(bench::kCodeCount);
    return data;
}

// "DAT2", the code lines, "CHK2 ...".
const std::string &section() {
    static const std::string text = bench::code_section(samples());
    return text;
}

// The code lines and the checksum line: what a host hands to decomp_6b_chars.
const std::string &code_lines() {
    static const std::string text = section().substr(section().find('\n') + 1);
    return text;
}

void set_rates(benchmark::State &state, size_t bytes) {
    const auto n = static_cast<int64_t>(state.iterations());
    state.SetItemsProcessed(n * static_cast<int64_t>(samples().size()));
    state.SetBytesProcessed(n * static_cast<int64_t>(bytes));
}

void decode_lines(benchmark::State &state) {
    const std::string &text = section();
    std::vector<int32_t> out(samples().size(), 0);
    const int count = static_cast<int>(out.size());
    for (auto _ : state) {
        bench::MemoryLines lines{text.data(), text.data() + text.size()};
        benchmark::DoNotOptimize(
            decomp_6b_buffer(count, out.data(), bench::read_memory_line, &lines));
        benchmark::ClobberMemory();
    }
    if (out != samples()) {
        state.SkipWithError("decoded samples differ from the encoded ones");
    }
    set_rates(state, text.size());
}

void decode_chars(benchmark::State &state) {
    const std::string &text = code_lines();
    std::vector<int32_t> out(samples().size(), 0);
    const int count = static_cast<int>(out.size());
    size_t used = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            decomp_6b_chars(text.data(), text.size(), count, out.data(), &used));
        benchmark::ClobberMemory();
    }
    if (out != samples() || text.compare(used, 5, "CHK2 ") != 0) {
        state.SkipWithError("decoded samples differ from the encoded ones");
    }
    set_rates(state, text.size());
}

const bool registered = [] {
    bench::add_choice(wavecodec::decode_line_family);
    bench::register_forced(wavecodec::decode_line_family, "decomp_6b_buffer", decode_lines);
    bench::register_forced(wavecodec::decode_line_family, "decomp_6b_chars", decode_chars);
    benchmark::RegisterBenchmark("decomp_6b_chars/library", decode_chars)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
