// CPU feature detection: CPUID leaves 1, 7 and 0x80000001 for the instructions, XGETBV for the
// register state the operating system saves (AVX needs XMM and YMM, AVX-512 also the opmask and
// both halves of the upper ZMM state).
#include "cpu_features.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define WAVELIBS_CPU_X86 1
#include <cpuid.h>
#endif

namespace cpu {
namespace {

// Set in the cache once the features are known, so that an empty set is cached too.
constexpr uint32_t kKnown = 1u << 31;

constinit std::atomic<uint32_t> cache{0};

static_assert(std::atomic<uint32_t>::is_always_lock_free, "the cache must need no lock");

#ifdef WAVELIBS_CPU_X86
Features detect() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    Features found = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return found;
    }
    const unsigned leaf1_ecx = c;
    if ((leaf1_ecx & bit_POPCNT) != 0) {
        found |= kPopcnt;
    }
    if (__get_cpuid(0x80000001u, &a, &b, &c, &d) != 0 && (c & bit_LZCNT) != 0) {
        found |= kLzcnt;
    }
    if (__get_cpuid_max(0, nullptr) < 7) {
        return found;
    }
    __cpuid_count(7, 0, a, b, c, d);
    const unsigned leaf7_ebx = b, leaf7_ecx = c;
    if ((leaf7_ebx & bit_BMI) != 0) {
        found |= kBmi1;
    }
    if ((leaf7_ebx & bit_BMI2) != 0) {
        found |= kBmi2;
    }
    const bool osxsave = (leaf1_ecx & bit_OSXSAVE) != 0 && (leaf1_ecx & bit_AVX) != 0;
    if (!osxsave) {
        return found;
    }
    unsigned xcr0 = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0u));
    if ((xcr0 & 0x06u) == 0x06u && (leaf7_ebx & bit_AVX2) != 0) {
        found |= kAvx2;
    }
    // clang's AVX-512F target also takes FMA and F16C, so AVX-512F counts only with both (every
    // processor with AVX-512F has them).
    const unsigned fma_f16c = bit_FMA | bit_F16C;
    if ((xcr0 & 0xe6u) != 0xe6u || (leaf7_ebx & bit_AVX512F) == 0 ||
        (leaf1_ecx & fma_f16c) != fma_f16c) {
        return found;
    }
    found |= kAvx512f;
    const struct {
        unsigned reg, bit;
        Feature feature;
    } avx512[] = {{leaf7_ebx, bit_AVX512DQ, kAvx512dq},     {leaf7_ebx, bit_AVX512CD, kAvx512cd},
                  {leaf7_ebx, bit_AVX512BW, kAvx512bw},     {leaf7_ebx, bit_AVX512VL, kAvx512vl},
                  {leaf7_ecx, bit_AVX512VBMI, kAvx512vbmi}, {leaf7_ecx, bit_AVX512VBMI2, kAvx512vbmi2}};
    for (const auto &f : avx512) {
        if ((f.reg & f.bit) != 0) {
            found |= f.feature;
        }
    }
    return found;
}
#else
Features detect() {
    return 0;
}
#endif

// Appends `text` to out[0, size) at `length`, keeping a NUL within the buffer; returns the new
// length as if nothing were cut.
size_t append(char *out, size_t size, size_t length, const char *text) {
    const size_t n = std::strlen(text);
    if (length < size) {
        const size_t room = size - length - 1;
        std::memcpy(out + length, text, n < room ? n : room);
        out[length + (n < room ? n : room)] = '\0';
    }
    return length + n;
}

}  // namespace

Features detected() {
    uint32_t state = cache.load(std::memory_order_relaxed);
    if ((state & kKnown) == 0) {
        state = detect() | kKnown;
        cache.store(state, std::memory_order_relaxed);
    }
    return state & ~kKnown;
}

const char *feature_name(Feature feature) {
    switch (feature) {
        case kPopcnt: return "popcnt";
        case kLzcnt: return "lzcnt";
        case kBmi1: return "bmi1";
        case kBmi2: return "bmi2";
        case kAvx2: return "avx2";
        case kAvx512f: return "avx512f";
        case kAvx512dq: return "avx512dq";
        case kAvx512cd: return "avx512cd";
        case kAvx512bw: return "avx512bw";
        case kAvx512vl: return "avx512vl";
        case kAvx512vbmi: return "avx512vbmi";
        case kAvx512vbmi2: return "avx512vbmi2";
    }
    return "unknown";
}

size_t format_features(Features set, char *out, size_t size) {
    size_t length = append(out, size, 0, "");
    for (Feature f : kAllFeatures) {
        if ((set & f) != 0) {
            length = append(out, size, length, length == 0 ? "" : " ");
            length = append(out, size, length, feature_name(f));
        }
    }
    return length;
}

size_t format_missing(Features wanted, char *out, size_t size) {
    const Features missing = wanted & ~detected();
    if (missing == 0) {
        return append(out, size, 0, "");
    }
#ifndef WAVELIBS_CPU_X86
    return append(out, size, 0, "not an x86 processor; only the portable kernels run here");
#else
    size_t length = append(out, size, 0, "this CPU or system lacks ");
    char names[160];
    format_features(missing, names, sizeof names);
    return append(out, size, length, names);
#endif
}

size_t format_model(char *out, size_t size) {
#ifdef WAVELIBS_CPU_X86
    unsigned brand[13] = {};
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __cpuid(0x80000002u + leaf, brand[4 * leaf], brand[4 * leaf + 1], brand[4 * leaf + 2],
                    brand[4 * leaf + 3]);
        }
        const char *text = reinterpret_cast<const char *>(brand);
        while (*text == ' ') {
            ++text;
        }
        return append(out, size, 0, text);
    }
    return append(out, size, 0, "x86 (no brand string)");
#elif defined(__aarch64__)
    return append(out, size, 0, "aarch64");
#elif defined(__s390x__)
    return append(out, size, 0, "s390x");
#else
    return append(out, size, 0, "unknown processor");
#endif
}

}  // namespace cpu
