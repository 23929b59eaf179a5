// Benchmarks of each kernel of a kernel family (either library): the public function run with one
// kernel forced, named "<routine>/<kernel>" ("compress_6b_chars/avx2"). Kernels this CPU cannot
// run are not registered; the run's context (cpu_context.cpp) lists what was found.
#ifndef WAVELIBS_BENCH_FORCED_KERNELS_H
#define WAVELIBS_BENCH_FORCED_KERNELS_H

#include <benchmark/benchmark.h>

#include <string>

#include "kernel_table.h"

namespace bench {

// Runs `body` with `kernel` forced in `family`, then returns the family to its own choice.
template <typename Fn>
void run_forced(benchmark::State &state, cpu::Family<Fn> *family,
                const cpu::Kernel<Fn> *kernel, void (*body)(benchmark::State &)) {
    family->force(*kernel);
    body(state);
    family->reset();
}

// Adds the kernel `family` chooses by itself to the run's context ("kernel.encode_block").
template <typename Fn>
void add_choice(cpu::Family<Fn> &family) {
    family.reset();
    benchmark::AddCustomContext(std::string("kernel.") + family.name(), family.chosen_name());
}

// Registers `routine`/<kernel> for every kernel of `family` this CPU runs.
template <typename Fn>
bool register_forced(cpu::Family<Fn> &family, const char *routine,
                     void (*body)(benchmark::State &)) {
    for (const cpu::Kernel<Fn> &kernel : family.kernels()) {
        if (cpu::usable(kernel)) {
            benchmark::RegisterBenchmark((std::string(routine) + "/" + kernel.name).c_str(),
                                         run_forced<Fn>, &family, &kernel, body)
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}

}  // namespace bench

#endif
