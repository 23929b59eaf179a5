#!/usr/bin/env python3
"""Turns the JSON output of the benchmark programs (run with repetitions) into Markdown tables.

    results_table.py RESULTS.json... [--compiler TEXT] [--update FILE]

Prints, for the kind of CPU the run was made on (x86-64 with AVX-512, x86-64 with AVX2, other
processors: from the features the programs record), one section: the CPU's model, features and
the kernels each routine chose, one table per results file (each compared with the memcpy entry
of its own run), and the speed targets checked for the library and for every kernel forced by
name. With --update, also replaces that kind's section of FILE, between the lines
"<!-- results:begin KIND -->" and "<!-- results:end KIND -->", or adds it before the line
"<!-- results:new -->"; the sections of other kinds are left alone. FILE is written to a
temporary name, then renamed. Medians of the repetitions are used; rates are per CPU second, as
the benchmark library computes them.
"""
import argparse
import json
import os
import platform
import sys
import tempfile

BEGIN = "<!-- results:begin %s -->"
END = "<!-- results:end %s -->"
NEW = "<!-- results:new -->"

# Kinds of CPU, each with its own section: key -> title.
KINDS = {
    "x86-64-avx512": "x86-64 with AVX-512",
    "x86-64-avx2": "x86-64 with AVX2, without AVX-512",
    "x86-64": "x86-64 without AVX2",
}

# Routines whose library entry is compared with memcpy of the same buffer.
ARRAY_ROUTINES = {"check_sum", "check_sum_large", "diff_2nd", "diff_2nd_r", "rem_2nd_diff",
                  "ibm2ieee", "ieee2ibm", "ibm2double", "double2ibm"}
# Routines compared with another memcpy entry than memcpy/limit: ibm2double with the copy of the
# doubles it writes, double2ibm with the copy of the doubles it reads.
MEMCPY_OF = {"ibm2double": "memcpy/doubles", "double2ibm": "memcpy/doubles_in"}
# Variants compared with memcpy and the reference besides the exported function itself (the
# conversion kernels that ibm2ieee chooses among).
MEASURED_VARIANTS = {"library", "portable", "avx2", "avx512"}
# Tiers held to the speed targets: the library's own choice and the kernels of the two kinds of
# x86-64 machine the project runs on. The portable kernels (other processors) are shown in the
# tables, not held to the targets.
TIERS = ["library", "avx512", "avx2"]
# Order of the rows: routines as listed (others after them, by name), then within a routine the
# library, its kernels fastest first, the reference, then the limits.
ROUTINE_ORDER = ["memcpy", "check_sum", "check_sum_large", "diff_2nd", "diff_2nd_r",
                 "rem_2nd_diff",
                 "compress_6b_buffer", "compress_6b_chars", "compress_6b_lines",
                 "decomp_6b_buffer", "decomp_6b_chars",
                 "samples_from_text", "samples_to_text",
                 "read_header",
                 "write_header", "ibm2ieee"]
VARIANT_ORDER = ["library", "avx512", "avx2", "portable", "reference"]


def row_order(name):
    routine, _, variant = name.partition("/")
    first = ROUTINE_ORDER.index(routine) if routine in ROUTINE_ORDER else len(ROUTINE_ORDER)
    second = VARIANT_ORDER.index(variant) if variant in VARIANT_ORDER else len(VARIANT_ORDER)
    return (first, routine, second, variant)

# Extra comparisons: entry -> (other entry, how to word the ratio).
NOTES = {
    "compress_6b_buffer/library": ("compress_6b_buffer/writer_calls",
                                   "writer calls alone: {pct:.0f}% of its time"),
    "compress_6b_chars/library": ("compress_6b_buffer/library",
                                  "{ratio:.1f}x compress_6b_buffer"),
    "compress_6b_lines/library": ("compress_6b_chars/library",
                                  "compress_6b_chars takes {pct:.0f}% of its time"),
    "decomp_6b_buffer/library": ("decomp_6b_buffer/reader_calls",
                                 "reader calls alone: {pct:.0f}% of its time"),
    "samples_from_text/library": ("samples_from_text/reference", "{ratio:.1f}x strtol"),
    "samples_to_text/library": ("samples_to_text/reference", "{ratio:.1f}x snprintf"),
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


def cpu_kind(context):
    """The section key of the CPU the run was made on."""
    features = context.get("cpu_features", "").split()
    machine = platform.machine()
    if machine in ("x86_64", "AMD64"):
        if "avx512f" in features:
            return "x86-64-avx512"
        if "avx2" in features:
            return "x86-64-avx2"
        return "x86-64"
    return machine or "unknown"


def kind_title(kind):
    return KINDS.get(kind, kind)


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
    for name in sorted(medians, key=row_order):
        entry = medians[name]
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
    return "\n".join(lines) + "\n"


def machine_text(context, compiler):
    """One paragraph: the run's date, the CPU, its features and the kernels chosen."""
    kernels = sorted((k[len("kernel."):], v) for k, v in context.items()
                     if k.startswith("kernel."))
    return (
        "Run %s on %s (%s cores), %s; %s; Release build.\n\n"
        "CPU features used by the kernels: %s.\n\n"
        "Kernels chosen on this CPU: %s.\n" % (
            context.get("date", "?"), context.get("cpu_model") or cpu_model(),
            context.get("num_cpus", "?"), platform.system() + " " + platform.release(),
            compiler or "compiler not given", context.get("cpu_features", "not recorded"),
            ", ".join("`%s` %s" % kv for kv in kernels) or "not recorded"))


# Speed targets: (routine, compared entry (None: samples/s, "characters": characters/s), minimum
# ratio of the compared entry's time to the routine's (or rate), wording). Checked for every tier present (the library's choice and each kernel
# forced by name).
TARGETS = [
    ("compress_6b_buffer", "reference", 1.5, "at least 1.5x the reference"),
    ("compress_6b_buffer", "writer_calls", 1 / 1.3, "within 1.3x of the writer calls alone"),
    ("compress_6b_chars", "compress_6b_buffer", 4.0, "at least 4x `compress_6b_buffer`"),
    ("compress_6b_chars", None, 500e6, "at least 500 M samples/s"),
    ("compress_6b_lines", "compress_6b_chars", 0.5, "at least half of `compress_6b_chars`' speed"),
    ("decomp_6b_buffer", "reference", 2.5, "at least 2.5x the reference"),
    ("decomp_6b_chars", "characters", 1e9, "at least 1 G characters/s"),
    ("rem_2nd_diff", "reference", 1.0, "at least the reference's speed"),
    ("rem_2nd_diff", "memcpy", 0.8, "at least 0.8 of memcpy"),
    ("diff_2nd", "memcpy", 1.0, "at least memcpy's speed"),
    ("diff_2nd_r", "memcpy", 1.0, "at least memcpy's speed"),
    ("check_sum", "memcpy", 1.0, "at least memcpy's speed"),
    ("ibm2ieee", "memcpy", 1.0, "at least memcpy's speed"),
    ("ieee2ibm", "memcpy", 1.0, "at least memcpy's speed"),
    ("ibm2double", "memcpy", 0.5, "at least half of memcpy of its output"),
]


def targets(runs):
    """Rows of the targets table over all runs (each compared within its own run)."""
    lines = ["| Routine | Tier | Target | Measured | Met |", "|---|---|---|---:|---|"]
    for routine, other, minimum, wording in TARGETS:
        for _, medians in runs:
            for tier in TIERS:
                entry = medians.get("%s/%s" % (routine, tier))
                if entry is None:
                    continue
                if other is None:
                    value = entry.get("items_per_second", 0.0)
                    text = rate(value, "samples")
                elif other == "characters":
                    value = entry.get("bytes_per_second", 0.0)
                    text = rate(value, "characters")
                elif other == "memcpy":
                    base = medians.get(MEMCPY_OF.get(routine, "memcpy/limit"))
                    if base is None:
                        continue
                    value = to_ms(base) / to_ms(entry)
                    text = "%.2f of memcpy" % value
                else:
                    # The other entry of the same tier (compress_6b_buffer/avx2 for
                    # compress_6b_chars/avx2), else the routine's own reference or limit.
                    base = medians.get("%s/%s" % (other, tier)) or medians.get(
                        "%s/%s" % (routine, other))
                    if base is None:
                        continue
                    value = to_ms(base) / to_ms(entry)
                    text = ("%.2fx the writer calls' time" % (1 / value)
                            if other == "writer_calls" else "%.2fx" % value)
                lines.append("| `%s` | %s | %s | %s | %s |" % (
                    routine, tier, wording, text, "yes" if value >= minimum else "**no**"))
    return "\n".join(lines) + "\n"


def section(runs, compiler):
    # The first run's context, with the kernels every program recorded.
    context = dict(runs[0][0])
    for other, _ in runs[1:]:
        context.update((k, v) for k, v in other.items() if k.startswith("kernel."))
    kind = cpu_kind(context)
    parts = ["### %s\n" % kind_title(kind), machine_text(context, compiler)]
    parts += [table(c, m, compiler) for c, m in runs]
    parts.append("Targets, each tier in the same run as what it is compared with (the portable "
                 "kernels, for other processors, are not held to them):\n")
    parts.append(targets(runs))
    return kind, "\n".join(parts)


def update(path, kind, text):
    try:
        with open(path, encoding="utf-8") as f:
            current = f.read()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e))
    begin, end = BEGIN % kind, END % kind
    start, stop = current.find(begin), current.find(end)
    if start >= 0 and stop > start:
        result = current[:start + len(begin)] + "\n" + text + current[stop:]
    elif start < 0 and stop < 0 and NEW in current:
        at = current.find(NEW)
        result = current[:at] + begin + "\n" + text + end + "\n\n" + current[at:]
    else:
        fail("%s has no well-formed section for %s and no %s line" % (path, kind, NEW))
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
    kind, text = section(runs, args.compiler)
    sys.stdout.write(text)
    if args.update:
        update(args.update, kind, text)


if __name__ == "__main__":
    main()
