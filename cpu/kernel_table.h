// The kernel table both libraries dispatch through: every routine with more than one
// implementation is a Family, a list of kernels, each with a name, the CPU features it needs and
// its function. The family's public entry takes the first kernel of its list that this build has
// and this CPU runs (lists run fastest first and end with the portable kernel, which needs
// nothing) on first use, and keeps it in an atomic pointer; tests and benchmarks can force any
// kernel of the list instead.
//
// A kernel's `needs` lists every feature its code uses beyond the baseline, and its
// __attribute__((target(...))) names the same features. Compilers take POPCNT with AVX2, and AVX2
// with AVX-512F (clang also FMA and F16C, which the detector requires with AVX-512F); their
// intrinsics cannot be had without them. So every AVX-512 kernel lists AVX2, a kernel that counts
// bits (std::popcount) lists POPCNT, and the kernel_instructions test (tests/kernel_isa) checks
// each kernel's disassembly against its list.
#ifndef WAVELIBS_KERNEL_TABLE_H
#define WAVELIBS_KERNEL_TABLE_H

#include <atomic>
#include <cstddef>
#include <cstring>
#include <span>

#include "cpu_features.h"

// The x86 vector kernels are compiled where the compiler can target them, unless the build asks
// for the portable code only (WAVELIBS_NO_SIMD, used by a portable test build). Builds without
// them list the same kernels with no function, so that a test can say why one is missing.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(WAVELIBS_NO_SIMD) && \
    (defined(__GNUC__) || defined(__clang__))
#define WAVELIBS_X86_KERNELS 1
#define WAVELIBS_X86(function) function
#else
#define WAVELIBS_X86(function) nullptr
#endif

namespace cpu {

template <typename Fn>
struct Kernel {
    const char *name;  // "portable", "avx2", "avx512"
    Features needs;    // every feature the kernel's code uses beyond the baseline
    Fn run;            // null when this build has no such kernel (not x86, or no SIMD)
};

// Why a kernel cannot run here, for test skip messages and benchmark errors; empty when it can.
// Same writing rules as format_features.
template <typename Fn>
size_t format_unusable(const Kernel<Fn> &kernel, char *out, size_t size) {
    if (kernel.run == nullptr) {
#ifdef WAVELIBS_NO_SIMD
        const char *why = "built with WAVELIBS_NO_SIMD: the portable kernels only";
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
    return format_missing(kernel.needs, out, size);
}

template <typename Fn>
bool usable(const Kernel<Fn> &kernel) {
    return kernel.run != nullptr && has(kernel.needs);
}

template <typename Fn>
class Family {
public:
    static_assert(std::atomic<Fn>::is_always_lock_free,
                  "the kernel pointer must be lock-free so that no atomic library is needed");

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

    // The kernel of the list named `name`, or null.
    const Kernel<Fn> *find(const char *name) const {
        for (const Kernel<Fn> &k : kernels_) {
            if (std::strcmp(k.name, name) == 0) {
                return &k;
            }
        }
        return nullptr;
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

}  // namespace cpu

#endif
