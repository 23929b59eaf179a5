#!/usr/bin/env python3
"""Turns the JSON output of the benchmark programs (run with repetitions) into Markdown tables.

    results_table.py RESULTS.json... [--compiler TEXT] [--update FILE]

Prints one table per results file, each compared with the memcpy entry of its own run. With --update, also replaces the part of FILE between the lines
"<!-- results:begin -->" and "<!-- results:end -->" by it (written to a temporary name, then
renamed). Medians of the repetitions are used; rates are per CPU second, as the benchmark
library computes them.
"""
import argparse
import json
import os
import platform
import sys
import tempfile

BEGIN = "<!-- results:begin -->"
END = "<!-- results:end -->"

# Routines whose library entry is compared with memcpy of the same buffer.
ARRAY_ROUTINES = {"check_sum", "check_sum_large", "diff_2nd", "rem_2nd_diff", "ibm2ieee",
                  "ieee2ibm", "ibm2double"}
# Routines compared with another memcpy entry than memcpy/limit: ibm2double with the copy of the
# doubles it writes.
MEMCPY_OF = {"ibm2double": "memcpy/doubles"}
# Variants compared with memcpy and the reference besides the exported function itself (the
# conversion kernels that ibm2ieee chooses among).
MEASURED_VARIANTS = {"library", "portable", "avx2", "avx512"}

# Extra comparisons: entry -> (other entry, how to word the ratio).
NOTES = {
    "compress_6b_buffer/library": ("compress_6b_buffer/writer_calls",
                                   "writer calls alone: {pct:.0f}% of its time"),
    "compress_6b_chars/library": ("compress_6b_buffer/library",
                                  "{ratio:.1f}x compress_6b_buffer"),
    "decomp_6b_buffer/library": ("decomp_6b_buffer/reader_calls",
                                 "reader calls alone: {pct:.0f}% of its time"),
    "ieee2ibm/library": ("ieee2ibm/segyio", "{ratio:.1f}x segyio's segy_from_native"),
}


def fail(message):
    print("results_table.py: " + message, file=sys.stderr)
    sys.exit(1)


def load_medians(path):
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError) as e:
        fail("cannot read %s: %s" % (path, e))
    medians = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            medians[b["run_name"]] = b
    return data.get("context", {}), medians


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def to_ms(entry):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[entry.get("time_unit", "ns")]
    return entry["cpu_time"] * scale


def rate(value, unit):
    for factor, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if value >= factor:
            return "%.2f %s%s/s" % (value / factor, prefix, unit)
    return "%.0f %s/s" % (value, unit)


def table(context, medians, compiler):
    lines = [
        "| Benchmark | CPU time (median) | Items/s | Bytes/s | Library / reference "
        "| % of memcpy | Note |",
        "|---|---:|---:|---:|---:|---:|---|",
    ]
    for name, entry in medians.items():
        routine, _, variant = name.partition("/")
        ms = to_ms(entry)
        time_text = "%.3f ms" % ms if ms < 1 else "%.2f ms" % ms
        if ms < 0.01:
            time_text = "%.0f ns" % (ms * 1e6)
        items = entry.get("items_per_second")
        size = entry.get("bytes_per_second")
        versus_reference = versus_memcpy = note = ""
        reference = medians.get(routine + "/reference")
        if variant in MEASURED_VARIANTS and reference is not None:
            versus_reference = "%.2fx" % (to_ms(reference) / ms)
        memcpy = medians.get(MEMCPY_OF.get(routine, "memcpy/limit"))
        if variant in MEASURED_VARIANTS and routine in ARRAY_ROUTINES and memcpy is not None:
            versus_memcpy = "%.0f%%" % (100.0 * to_ms(memcpy) / ms)
        if name in NOTES and NOTES[name][0] in medians:
            other = to_ms(medians[NOTES[name][0]])
            note = NOTES[name][1].format(ratio=other / ms, pct=100.0 * other / ms)
        lines.append("| `%s` | %s | %s | %s | %s | %s | %s |" % (
            name, time_text, rate(items, "items") if items else "",
            rate(size, "B") if size else "", versus_reference, versus_memcpy, note))
    cpus = context.get("num_cpus", "?")
    lines += [
        "",
        "Machine: %s, %s cores, %s; %s. Run %s; library build: %s." % (
            cpu_model(), cpus, platform.system() + " " + platform.release(),
            compiler or "compiler not given", context.get("date", "?"),
            "Release"),
    ]
    return "\n".join(lines) + "\n"


def update(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            current = f.read()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e))
    start, end = current.find(BEGIN), current.find(END)
    if start < 0 or end < start:
        fail("%s lacks the %s and %s lines" % (path, BEGIN, END))
    result = current[:start + len(BEGIN)] + "\n" + text + current[end:]
    directory = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(dir=directory, prefix=".performance.", suffix=".tmp")
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(result)
        os.replace(temporary, path)
    except OSError as e:
        os.unlink(temporary)
        fail("cannot write %s: %s" % (path, e))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", nargs="+")
    parser.add_argument("--compiler", default="")
    parser.add_argument("--update", metavar="FILE")
    args = parser.parse_args()
    runs = [load_medians(path) for path in args.results]
    runs = [(context, medians) for context, medians in runs if medians]
    if not runs:
        fail("no medians in %s: run the benchmarks with --benchmark_repetitions"
             % ", ".join(args.results))
    text = "\n".join(table(context, medians, args.compiler) for context, medians in runs)
    sys.stdout.write(text)
    if args.update:
        update(args.update, text)


if __name__ == "__main__":
    main()
