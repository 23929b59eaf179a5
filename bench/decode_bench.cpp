// The decoders, decomp_6b_buffer (lines from memory through the reader) and decomp_6b_chars (the
// text at once), with each line kernel this CPU runs, beside the plain reference and the reader
// alone, all on the same 1 Mi samples of code in 80-column lines. Items are samples; bytes are the
// characters of the text. The context lines name the CPU's vector features and the kernel the
// decoders choose on their own.
//
// Built with the decoders' objects (not through the shared library), so that it can force each
// kernel; the library's own decoders are the same code.
#include "bench_data.h"
#include "decode_line.h"
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

// Forces `kernel` (null: the automatic choice) for the benchmark's run.
struct ForcedKernel {
    explicit ForcedKernel(const char *kernel) { wavecodec::force_decode_kernel(kernel); }
    ~ForcedKernel() { wavecodec::force_decode_kernel(nullptr); }
};

template <int (*Decode)(int, int32_t *, line_reader, void *)>
void decode_lines(benchmark::State &state, const char *kernel) {
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

void decode_chars(benchmark::State &state, const char *kernel) {
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

std::string cpu_features() {
    std::string features;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    const char *names[] = {"sse4.2", "avx", "avx2", "bmi2", "avx512f", "avx512bw", "avx512vbmi"};
    const bool has[] = {
        __builtin_cpu_supports("sse4.2") != 0,   __builtin_cpu_supports("avx") != 0,
        __builtin_cpu_supports("avx2") != 0,     __builtin_cpu_supports("bmi2") != 0,
        __builtin_cpu_supports("avx512f") != 0,  __builtin_cpu_supports("avx512bw") != 0,
        __builtin_cpu_supports("avx512vbmi") != 0};
    for (size_t i = 0; i < sizeof has; ++i) {
        if (has[i]) {
            features.append(features.empty() ? "" : " ").append(names[i]);
        }
    }
#endif
    return features.empty() ? "none detected" : features;
}

bool register_all() {
    benchmark::AddCustomContext("cpu_features", cpu_features());
    benchmark::AddCustomContext("decode_kernel", wavecodec::decode_kernel_name());
    for (int k = 0; k < wavecodec::decode_kernel_count; ++k) {
        const wavecodec::DecodeKernel &kernel = wavecodec::decode_kernels[k];
        if (!kernel.supported()) {
            continue;
        }
        const std::string name = kernel.name;
        benchmark::RegisterBenchmark(("decomp_6b_buffer/" + name).c_str(),
                                     decode_lines<decomp_6b_buffer>, kernel.name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decomp_6b_chars/" + name).c_str(), decode_chars,
                                     kernel.name)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("decomp_6b_buffer/reference",
                                 decode_lines<reference::decomp_6b_buffer>, nullptr)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decomp_6b_buffer/reader_calls", reader_calls)
        ->Unit(benchmark::kMillisecond);
    return true;
}

const bool registered = register_all();

}  // namespace
