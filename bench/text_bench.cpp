// Samples as decimal text: samples_from_text parsing the trace printed one per line (what the
// command line's encode reads) and samples_to_text printing it, each beside a plain reference
// (strtol over the words; snprintf per sample). Items are samples; bytes are the text.
#include "bench_data.h"
#include "wavecodec.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::vector<int32_t> &trace() {
    static const std::vector<int32_t> data = bench::seismic_trace(bench::kCodeCount);
    return data;
}

const std::string &trace_text() {
    static const std::string text = [] {
        std::string out;
        for (int32_t v : trace()) {
            out += std::to_string(v);
            out += '\n';
        }
        return out;
    }();
    return text;
}

void set_rates(benchmark::State &state, size_t items, size_t bytes) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(items));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// strtol word by word, with its range check: the plain way of reading the text.
int reference_parse(const char *text, int32_t *out, int capacity) {
    int n = 0;
    char *end = nullptr;
    for (const char *p = text; n < capacity; p = end) {
        errno = 0;
        const long v = std::strtol(p, &end, 10);
        if (end == p) {
            break;
        }
        if (errno != 0 || v < INT32_MIN || v > INT32_MAX) {
            return -1;
        }
        out[n++] = static_cast<int32_t>(v);
    }
    return n;
}

void parse_library(benchmark::State &state) {
    const std::string &text = trace_text();
    std::vector<int32_t> out(trace().size());
    int count = 0;
    for (auto _ : state) {
        samples_from_text(text.data(), text.size(), 1, out.data(), static_cast<int>(out.size()),
                          &count, nullptr);
        benchmark::ClobberMemory();
    }
    if (out != trace()) {
        state.SkipWithError("samples_from_text did not give the trace back");
    }
    set_rates(state, out.size(), text.size());
}

void parse_reference(benchmark::State &state) {
    const std::string &text = trace_text();
    std::vector<int32_t> out(trace().size());
    for (auto _ : state) {
        reference_parse(text.c_str(), out.data(), static_cast<int>(out.size()));
        benchmark::ClobberMemory();
    }
    if (out != trace()) {
        state.SkipWithError("the reference did not give the trace back");
    }
    set_rates(state, out.size(), text.size());
}

void print_library(benchmark::State &state) {
    const std::vector<int32_t> &s = trace();
    std::string out(12 * s.size() + 1, '\0');
    size_t length = 0;
    for (auto _ : state) {
        samples_to_text(s.data(), static_cast<int>(s.size()), 1, nullptr, out.data(), out.size(),
                        &length);
        benchmark::ClobberMemory();
    }
    if (out.compare(0, length, trace_text()) != 0 || length != trace_text().size()) {
        state.SkipWithError("samples_to_text gave other text than the reference");
    }
    set_rates(state, s.size(), length);
}

void print_reference(benchmark::State &state) {
    const std::vector<int32_t> &s = trace();
    std::string out(12 * s.size() + 1, '\0');
    size_t length = 0;
    for (auto _ : state) {
        length = 0;
        for (int32_t v : s) {
            length += static_cast<size_t>(std::snprintf(out.data() + length, 13, "%d\n", v));
        }
        benchmark::ClobberMemory();
    }
    set_rates(state, s.size(), length);
}

}  // namespace

BENCHMARK(parse_library)->Name("samples_from_text/library")->Unit(benchmark::kMillisecond);
BENCHMARK(parse_reference)->Name("samples_from_text/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(print_library)->Name("samples_to_text/library")->Unit(benchmark::kMillisecond);
BENCHMARK(print_reference)->Name("samples_to_text/reference")->Unit(benchmark::kMillisecond);
