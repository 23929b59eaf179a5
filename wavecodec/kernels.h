// The kernel table: every routine family that has more than one implementation lists them here,
// each with a name, the CPU features it needs and its function. A family's public entry takes
// the first kernel of its list that this build has and this CPU runs (the lists run fastest
// first and end with the portable kernel, which needs nothing) on first use, and keeps it in an
// atomic pointer; tests and benchmarks can force any kernel of the list instead.
//
// Adding a family:
//   1. Declare its function type below (a plain function pointer; counts as size_t).
//   2. Write one kernel per instruction set, each in the file of its set (encode_block_avx2.cpp,
//      diff_kernels_avx512.cpp, ...), x86 ones inside #ifdef WAVECODEC_X86_KERNELS with
//      __attribute__((target(...))) naming exactly the features listed for it, and declare them
//      here.
//   3. In kernels.cpp, list the kernels fastest first, portable last, with kNotBuilt in place of
//      the x86 functions when WAVECODEC_X86_KERNELS is off (so every build lists the same
//      names and a test reports why it skips one), and define the family from the list.
//   4. Declare the family below (extern) and call family.get()(...) from the public entry.
//   5. Test every kernel against the portable one (tests/wavecodec/kernel_table_test.cpp runs
//      each family's kernels by forcing them) and benchmark each by forcing it (bench/).
#ifndef WAVECODEC_KERNELS_H
#define WAVECODEC_KERNELS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "cpu_features.h"

// The x86 vector kernels are compiled where the compiler can target them, unless the build asks
// for the portable code only (WAVECODEC_NO_SIMD, used by the portable test build).
#if (defined(__x86_64__) || defined(__i386__)) && !defined(WAVECODEC_NO_SIMD) && \
    (defined(__GNUC__) || defined(__clang__))
#define WAVECODEC_X86_KERNELS 1
#endif

namespace wavecodec {

template <typename Fn>
struct Kernel {
    const char *name;      // "portable", "avx2", "avx512"
    cpu::Features needs;   // every feature the kernel's code uses beyond the baseline
    Fn run;                // null when this build has no such kernel (not x86, or no SIMD)
};

// Why a kernel cannot run here, for test skip messages and benchmark errors; empty when it can.
template <typename Fn>
size_t format_unusable(const Kernel<Fn> &kernel, char *out, size_t size) {
    if (kernel.run == nullptr) {
#ifdef WAVECODEC_NO_SIMD
        const char *why = "built with WAVECODEC_NO_SIMD: the portable kernels only";
#else
        const char *why = "not built for this processor (x86 kernels only)";
#endif
        const size_t n = std::strlen(why);
        if (size > 0) {
            const size_t k = n < size - 1 ? n : size - 1;
            std::memcpy(out, why, k);
            out[k] = '\0';
        }
        return n;
    }
    return cpu::format_missing(kernel.needs, out, size);
}

template <typename Fn>
bool usable(const Kernel<Fn> &kernel) {
    return kernel.run != nullptr && cpu::has(kernel.needs);
}

template <typename Fn>
class Family {
public:
    constexpr Family(const char *name, std::span<const Kernel<Fn>> kernels)
        : name_(name), kernels_(kernels) {}

    // The chosen kernel's function: the first usable one, chosen on the first call. Concurrent
    // first calls may each choose, but they store the same pointer.
    Fn get() {
        Fn f = chosen_.load(std::memory_order_relaxed);
        if (f == nullptr) {
            f = best().run;
            chosen_.store(f, std::memory_order_relaxed);
        }
        return f;
    }

    // The first kernel of the list this build has and this CPU runs.
    const Kernel<Fn> &best() const {
        for (const Kernel<Fn> &k : kernels_) {
            if (usable(k)) {
                return k;
            }
        }
        return kernels_.back();
    }

    // Makes get() return this kernel's function, which the caller has checked usable; for
    // tests and benchmarks, one thread at a time. reset() returns to the automatic choice.
    void force(const Kernel<Fn> &kernel) {
        chosen_.store(kernel.run, std::memory_order_relaxed);
    }
    void reset() {
        chosen_.store(nullptr, std::memory_order_relaxed);
    }

    // Name of the kernel get() uses (choosing it if not yet done).
    const char *chosen_name() {
        const Fn f = get();
        for (const Kernel<Fn> &k : kernels_) {
            if (k.run == f) {
                return k.name;
            }
        }
        return "unknown";
    }

    const char *name() const {
        return name_;
    }
    std::span<const Kernel<Fn>> kernels() const {
        return kernels_;
    }

private:
    const char *name_;
    std::span<const Kernel<Fn>> kernels_;
    std::atomic<Fn> chosen_{nullptr};
};

// ---- Block encoder: the six-bit code of samples[0, count), count <= kBlock and none of them
// -2147483648, into `out` (kBlockBuffer bytes, see sixbit_code.h); returns the characters.
using EncodeBlockFn = size_t (*)(const int32_t *samples, int count, char *out);
size_t encode_block_portable(const int32_t *samples, int count, char *out);
#ifdef WAVECODEC_X86_KERNELS
size_t encode_block_avx2(const int32_t *samples, int count, char *out);
size_t encode_block_avx512(const int32_t *samples, int count, char *out);
#endif
extern constinit Family<EncodeBlockFn> encode_block_family;

// ---- Second differences of samples[0, count) in place, continuing a series whose state is the
// latest input (`last`) and the one before it minus twice the latest (`carry`); updates both.
using DiffFn = void (*)(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
void diff_portable(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
#ifdef WAVECODEC_X86_KERNELS
void diff_avx2(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
void diff_avx512(int32_t *samples, size_t count, uint32_t &last, uint32_t &carry);
#endif
extern constinit Family<DiffFn> diff_family;

// ---- Double running sum of samples[0, count) in place (restoring from second differences),
// continuing from the running sums `first` and `second`; updates both.
using PrefixSumsFn = void (*)(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
void prefix_sums_portable(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
#ifdef WAVECODEC_X86_KERNELS
void prefix_sums_avx2(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
void prefix_sums_avx512(int32_t *samples, size_t count, uint32_t &first, uint32_t &second);
#endif
extern constinit Family<PrefixSumsFn> prefix_sums_family;

// ---- Line decoder: the six-bit code of one line's text, a sample possibly continuing from and
// into other lines (decode_line.h).
struct OpenSample;
using DecodeLineFn = int (*)(const char *line, int32_t *out, int room, OpenSample &open);
int decode_line_portable(const char *line, int32_t *out, int room, OpenSample &open);
#ifdef WAVECODEC_X86_KERNELS
int decode_line_avx2(const char *line, int32_t *out, int room, OpenSample &open);
int decode_line_avx512(const char *line, int32_t *out, int room, OpenSample &open);
#endif
extern constinit Family<DecodeLineFn> decode_line_family;

}  // namespace wavecodec

#endif
