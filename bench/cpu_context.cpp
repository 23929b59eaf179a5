// Adds the processor's model and features to the context every benchmark run prints (and writes
// into its JSON output); each program adds the kernels its routines chose.
#include <benchmark/benchmark.h>

#include "cpu_features.h"

namespace {

bool add_context() {
    char text[256];
    cpu::format_model(text, sizeof text);
    benchmark::AddCustomContext("cpu_model", text);
    cpu::format_features(cpu::detected(), text, sizeof text);
    benchmark::AddCustomContext("cpu_features", text[0] != '\0' ? text : "(none)");
    return true;
}

const bool added = add_context();

}  // namespace
