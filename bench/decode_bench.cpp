// The decoders, decomp_6b_buffer (lines from memory through the reader) and decomp_6b_chars (the
// text at once), with each line kernel this CPU runs, beside the plain reference and the reader
// alone, all on the same 1 Mi samples of code in 80-column lines. Items are samples; bytes are the
// characters of the text. The context lines name the CPU's vector features and the kernel the
// decoders choose on their own.
//
// Built from the library's code as a static library, so that it can force each kernel; the shared
// library's decoders are the same code.
#include "bench_data.h"
#include "cpu_features.h"
#include "kernels.h"
#include "reference_codec.h"
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

// The code lines alone: what a host hands to decomp_6b_chars.
const std::string &code_lines() {
    static const std::string text = section().substr(section().find('\n') + 1);
    return text;
}

void set_rates(benchmark::State &state, size_t bytes) {
    const auto n = static_cast<int64_t>(state.iterations());
    state.SetItemsProcessed(n * static_cast<int64_t>(samples().size()));
    state.SetBytesProcessed(n * static_cast<int64_t>(bytes));
}

using DecodeKernel = wavecodec::Kernel<wavecodec::DecodeLineFn>;

// Forces `kernel` (null: the automatic choice) for the benchmark's run.
struct ForcedKernel {
    explicit ForcedKernel(const DecodeKernel *kernel) {
        if (kernel != nullptr) {
            wavecodec::decode_line_family.force(*kernel);
        }
    }
    ~ForcedKernel() { wavecodec::decode_line_family.reset(); }
};

template <int (*Decode)(int, int32_t *, line_reader, void *)>
void decode_lines(benchmark::State &state, const DecodeKernel *kernel) {
    const ForcedKernel forced(kernel);
    const std::string &text = section();
    std::vector<int32_t> out(samples().size(), 0);
    const int count = static_cast<int>(out.size());
    for (auto _ : state) {
        bench::MemoryLines lines{text.data(), text.data() + text.size()};
        benchmark::DoNotOptimize(Decode(count, out.data(), bench::read_memory_line, &lines));
        benchmark::ClobberMemory();
    }
    if (out != samples()) {
        state.SkipWithError("decoded samples differ from the encoded ones");
    }
    set_rates(state, text.size());
}

void decode_chars(benchmark::State &state, const DecodeKernel *kernel) {
    const ForcedKernel forced(kernel);
    const std::string &text = code_lines();
    std::vector<int32_t> out(samples().size(), 0);
    const int count = static_cast<int>(out.size());
    size_t used = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decomp_6b_chars(text.data(), text.size(), count, out.data(), &used));
        benchmark::ClobberMemory();
    }
    if (out != samples() || text.compare(used, 5, "CHK2 ") != 0) {
        state.SkipWithError("decoded samples differ from the encoded ones");
    }
    set_rates(state, text.size());
}

// The floor of decomp_6b_buffer's input: the reader alone going through every line.
void reader_calls(benchmark::State &state) {
    const std::string &text = section();
    char line[WAVECODEC_LINE_BUFFER];
    for (auto _ : state) {
        bench::MemoryLines lines{text.data(), text.data() + text.size()};
        while (bench::read_memory_line(line, &lines) != nullptr) {
            benchmark::DoNotOptimize(line);
        }
    }
    set_rates(state, text.size());
}

std::string text_of(size_t (*format)(char *, size_t)) {
    char text[256];
    format(text, sizeof text);
    return text;
}

bool register_all() {
    benchmark::AddCustomContext("cpu_model", text_of(cpu::format_model));
    benchmark::AddCustomContext("cpu_features", text_of([](char *out, size_t size) {
                                    return cpu::format_features(cpu::detected(), out, size);
                                }));
    benchmark::AddCustomContext("decode_line_kernel",
                                wavecodec::decode_line_family.chosen_name());
    for (const DecodeKernel &kernel : wavecodec::decode_line_family.kernels()) {
        if (!wavecodec::usable(kernel)) {
            continue;
        }
        const std::string name = kernel.name;
        benchmark::RegisterBenchmark(("decomp_6b_buffer/" + name).c_str(),
                                     decode_lines<decomp_6b_buffer>, &kernel)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decomp_6b_chars/" + name).c_str(), decode_chars, &kernel)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("decomp_6b_buffer/reference",
                                 decode_lines<reference::decomp_6b_buffer>,
                                 static_cast<const DecodeKernel *>(nullptr))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decomp_6b_buffer/reader_calls", reader_calls)
        ->Unit(benchmark::kMillisecond);
    return true;
}

const bool registered = register_all();

}  // namespace
