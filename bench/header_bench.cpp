// The WID2 header line, one call at a time through fmemopen streams. Items are header lines.
#include "wavecodec.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

char kLine[] =
    "WID2 2026/12/08 16:04:05.250 ARCES SHZ NSN  CM6     6000   40.000000  1.000e+00   1.000 "
    "GS-13   -1.0 90.0\n";

void read_header_call(benchmark::State &state) {
    FILE *stream = fmemopen(kLine, std::strlen(kLine), "r");
    if (stream == nullptr) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    wid2_header header{};
    for (auto _ : state) {
        std::rewind(stream);
        benchmark::DoNotOptimize(read_header(stream, &header));
        benchmark::ClobberMemory();
    }
    std::fclose(stream);
    if (header.sample_count != 6000) {
        state.SkipWithError("the header line was not read");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void write_header_call(benchmark::State &state) {
    static char buffer[256];
    FILE *stream = fmemopen(buffer, sizeof buffer, "w");
    if (stream == nullptr) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    wid2_header header{};
    {
        FILE *in = fmemopen(kLine, std::strlen(kLine), "r");
        if (in == nullptr || read_header(in, &header) != 0) {
            state.SkipWithError("the header line was not read");
            if (in != nullptr) {
                std::fclose(in);
            }
            std::fclose(stream);
            return;
        }
        std::fclose(in);
    }
    for (auto _ : state) {
        std::rewind(stream);
        benchmark::DoNotOptimize(write_header(stream, &header));
        std::fflush(stream);
    }
    std::fclose(stream);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(read_header_call)->Name("read_header/library");
BENCHMARK(write_header_call)->Name("write_header/library");
