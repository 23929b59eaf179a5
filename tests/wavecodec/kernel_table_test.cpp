// Every kernel of the kernel table against the plain per-sample code, called directly and forced
// under the public functions: lengths 0 to 300 and large ones, every start near the vector and
// block edges, wrapping values, the -2147483648 stop and a full output buffer. A kernel this
// build or CPU cannot run is skipped with the reason. Built from the library's sources (to force
// kernels), and again with WAVELIBS_NO_SIMD.
#include "exported.h"
#include "forced_kernel.h"
#include "kernels.h"
#include "reference_codec.h"
#include "sixbit_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing_support::Forced;

// ---- test data (the plain versions are tests/support/reference_codec.h)

uint32_t draw(std::mt19937 &gen) {
    return static_cast<uint32_t>(gen());
}

// Samples of every code length mixed: a random bit length 0..31 each, then a random value of
// that length and sign, so that neighbours in a vector differ in length. Never -2147483648.
std::vector<int32_t> mixed_values(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<int32_t> v(n);
    for (int32_t &x : v) {
        const unsigned bits = draw(gen) % 32u;
        const uint32_t magnitude = bits == 0 ? 0u : (draw(gen) >> (32u - bits)) | (1u << (bits - 1));
        const int32_t value = static_cast<int32_t>(magnitude & 0x7fffffffu);
        x = (draw(gen) & 1u) != 0 ? -value : value;
    }
    return v;
}

std::vector<int32_t> full_range(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<int32_t> v(n);
    for (int32_t &x : v) {
        x = static_cast<int32_t>(draw(gen));
    }
    return v;
}

// Values at the edges of each code length and of the clamp, both signs.
std::vector<int32_t> edge_values() {
    std::vector<int32_t> v{0, 1, -1, INT32_MAX, INT32_MIN + 1, 134217727, -134217727, 134217728};
    for (int bits : {4, 9, 14, 19, 24, 27}) {
        const int32_t p = static_cast<int32_t>(1u << bits);
        for (int32_t x : {p - 1, p, p + 1}) {
            v.push_back(x);
            v.push_back(-x);
        }
    }
    return v;
}

std::string &writer_sink() {
    static std::string chars;
    return chars;
}

int collect(int c) {
    writer_sink().push_back(static_cast<char>(c));
    return c;
}

const char *const kKernelNames[] = {"avx512", "avx2", "portable"};

std::string param_name(const testing::TestParamInfo<const char *> &info) {
    return info.param;
}

// ---- block encoder

class EncodeBlockKernel : public testing::TestWithParam<const char *> {};

TEST_P(EncodeBlockKernel, EveryCountAndStartMatchesModelWithinTheBuffer) {
    KERNEL_OR_SKIP(kernel, wavecodec::encode_block_family);
    const std::vector<int32_t> edges = edge_values();
    std::vector<int32_t> pool = mixed_values(400, 1);
    pool.insert(pool.end(), edges.begin(), edges.end());
    constexpr size_t kGuard = 32;
    for (int count = 0; count <= wavecodec::kBlock; ++count) {
        for (size_t start = 0; start + static_cast<size_t>(count) <= pool.size(); start += 13) {
            std::string out(wavecodec::kBlockBuffer + kGuard, '#');
            const size_t n = kernel->run(pool.data() + start, count, out.data());
            const std::string want =
                reference::codes(pool.data() + start, static_cast<size_t>(count));
            ASSERT_EQ(out.substr(0, n), want) << "count " << count << ", start " << start;
            ASSERT_EQ(out.find_first_not_of('#', wavecodec::kBlockBuffer), std::string::npos)
                << "wrote past the block buffer: count " << count << ", start " << start;
        }
    }
}

// The vector kernels take the bit length from float exponents and the length in characters from
// a multiply: every bit length, each sign, at every lane of a step.
TEST_P(EncodeBlockKernel, EveryBitLengthAndSignAtEveryLane) {
    KERNEL_OR_SKIP(kernel, wavecodec::encode_block_family);
    std::vector<int32_t> values;
    for (unsigned bits = 0; bits < 31; ++bits) {
        const uint32_t p = 1u << bits;
        for (uint32_t m : {p - 1, p, p + 1, 2 * p - 1}) {
            const auto x = static_cast<int32_t>(m & 0x7fffffffu);
            values.push_back(x);
            values.push_back(-x);
        }
    }
    for (size_t shift = 0; shift < 8; ++shift) {
        std::vector<int32_t> v(shift, 7);
        v.insert(v.end(), values.begin(), values.end());
        for (size_t start = 0; start < v.size(); start += wavecodec::kBlock) {
            const int count = static_cast<int>(std::min<size_t>(wavecodec::kBlock, v.size() - start));
            std::string out(wavecodec::kBlockBuffer, '#');
            const size_t n = kernel->run(v.data() + start, count, out.data());
            ASSERT_EQ(out.substr(0, n),
                      reference::codes(v.data() + start, static_cast<size_t>(count)))
                << "shift " << shift << ", start " << start;
        }
    }
}

TEST_P(EncodeBlockKernel, PublicEncodersMatchModelForEveryLength) {
    KERNEL_OR_SKIP(kernel, wavecodec::encode_block_family);
    Forced<wavecodec::EncodeBlockFn> forced(wavecodec::encode_block_family, *kernel);
    ASSERT_STREQ(wavecodec::encode_block_family.chosen_name(), kernel->name);
    const std::vector<int32_t> mixed = mixed_values(300 + 16, 2);
    const std::vector<int32_t> wrapping = full_range(300 + 16, 3);
    for (const std::vector<int32_t> *pool : {&mixed, &wrapping}) {
        for (int count = 0; count <= 300; ++count) {
            const size_t start = static_cast<size_t>(count) % 16;  // misaligned starts too
            const int32_t *v = pool->data() + start;
            const std::string want = reference::codes(v, static_cast<size_t>(count));
            std::string out(want.size() + 64, '#');
            size_t length = 0;
            ASSERT_EQ(compress_6b_chars(v, count, out.data(), out.size(), &length), 0);
            ASSERT_EQ(out.substr(0, length), want) << "count " << count;
            writer_sink().clear();
            ASSERT_EQ(compress_6b_buffer(v, count, collect), 0);
            ASSERT_EQ(writer_sink(), want) << "count " << count;
            std::string lines(want.size() + want.size() / 80 + 64, '#');
            ASSERT_EQ(compress_6b_lines(v, count, 80, nullptr, lines.data(), lines.size(),
                                        &length, nullptr),
                      0);
            std::string want_lines;
            for (size_t at = 0; at < want.size(); at += 80) {
                want_lines += want.substr(at, 80) + "\n";
            }
            ASSERT_EQ(lines.substr(0, length), want_lines) << "count " << count;
        }
    }
    const std::vector<int32_t> large = mixed_values(200003, 4);
    const std::string want = reference::codes(large.data(), large.size());
    std::string out(want.size(), '#');
    size_t length = 0;
    ASSERT_EQ(compress_6b_chars(large.data(), static_cast<int>(large.size()), out.data(),
                                out.size(), &length),
              0);
    EXPECT_EQ(length, want.size());
    EXPECT_TRUE(out == want) << "large array differs";
}

TEST_P(EncodeBlockKernel, UnencodableSampleStopsAtItsPlace) {
    KERNEL_OR_SKIP(kernel, wavecodec::encode_block_family);
    Forced<wavecodec::EncodeBlockFn> forced(wavecodec::encode_block_family, *kernel);
    const std::vector<int32_t> base = mixed_values(200, 5);
    // Every place in the first three blocks: each vector lane, group and block edge.
    for (size_t at = 0; at < 200; ++at) {
        std::vector<int32_t> v = base;
        v[at] = INT32_MIN;
        const std::string want = reference::codes(v.data(), at);
        std::string out(6 * v.size(), '#');
        size_t length = 99;
        ASSERT_EQ(compress_6b_chars(v.data(), 200, out.data(), out.size(), &length), -1);
        ASSERT_EQ(out.substr(0, length), want) << "at " << at;
        ASSERT_EQ(out.find_first_not_of('#', length), std::string::npos) << "at " << at;
        writer_sink().clear();
        ASSERT_EQ(compress_6b_buffer(v.data(), 200, collect), -1);
        ASSERT_EQ(writer_sink(), want) << "at " << at;
    }
}

TEST_P(EncodeBlockKernel, FullBufferKeepsWholeSamplesAtEveryCapacity) {
    KERNEL_OR_SKIP(kernel, wavecodec::encode_block_family);
    Forced<wavecodec::EncodeBlockFn> forced(wavecodec::encode_block_family, *kernel);
    const std::vector<int32_t> v = mixed_values(150, 6);
    std::vector<size_t> ends{0};  // characters after each whole sample
    for (int32_t x : v) {
        ends.push_back(ends.back() + reference::code(x).size());
    }
    const std::string all = reference::codes(v.data(), v.size());
    for (size_t capacity = 0; capacity <= all.size() + 1; ++capacity) {
        std::string out(all.size() + 8, '#');
        size_t length = 99;
        const int result = compress_6b_chars(v.data(), 150, out.data(), capacity, &length);
        size_t samples = 0;
        while (samples < v.size() && ends[samples + 1] <= capacity) {
            ++samples;
        }
        ASSERT_EQ(result, samples == v.size() ? 0 : -2) << "capacity " << capacity;
        ASSERT_EQ(length, ends[samples]) << "capacity " << capacity;
        ASSERT_EQ(out.substr(0, length), all.substr(0, length)) << "capacity " << capacity;
        ASSERT_EQ(out.find_first_not_of('#', length), std::string::npos)
            << "capacity " << capacity;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, EncodeBlockKernel, testing::ValuesIn(kKernelNames), param_name);

// ---- second differences

class DiffKernel : public testing::TestWithParam<const char *> {};

TEST_P(DiffKernel, EveryLengthAndStateMatchesModel) {
    KERNEL_OR_SKIP(kernel, wavecodec::diff_family);
    const std::vector<int32_t> pool = full_range(300 + 16, 7);
    std::mt19937 gen(8);
    for (size_t count = 0; count <= 300; ++count) {
        const size_t start = count % 16;
        std::vector<int32_t> got(pool.begin() + static_cast<ptrdiff_t>(start),
                                 pool.begin() + static_cast<ptrdiff_t>(start + count));
        std::vector<int32_t> want = got;
        uint32_t a = draw(gen), b = draw(gen);  // the two inputs before the first
        uint32_t last = b, carry = a - 2u * b;
        kernel->run(got.data(), count, last, carry);
        reference::diff(want.data(), count, a, b);
        ASSERT_EQ(got, want) << "count " << count;
        ASSERT_EQ(last, b) << "count " << count;
        ASSERT_EQ(carry, a - 2u * b) << "count " << count;
    }
}

TEST_P(DiffKernel, PublicSeriesSplitAnywhereMatchesModel) {
    KERNEL_OR_SKIP(kernel, wavecodec::diff_family);
    Forced<wavecodec::DiffFn> forced(wavecodec::diff_family, *kernel);
    const std::vector<int32_t> series = full_range(100000, 9);
    std::vector<int32_t> want = series;
    uint32_t a = 0, b = 0;
    reference::diff(want.data(), want.size(), a, b);
    std::mt19937 gen(10);
    for (int trial = 0; trial < 8; ++trial) {
        // The same pieces through diff_2nd and through diff_2nd_r with a state of the test's own.
        std::vector<int32_t> v = series, r = series;
        diff_2nd_state state{};
        size_t at = 0;
        for (int piece = 0; at < v.size(); ++piece) {
            const size_t n = std::min<size_t>(v.size() - at, trial == 0 ? v.size() : draw(gen) % 300);
            diff_2nd(v.data() + at, static_cast<int>(n), piece == 0 ? 0 : 1);
            ASSERT_EQ(diff_2nd_r(&state, r.data() + at, static_cast<int>(n), piece == 0 ? 0 : 1),
                      0);
            at += n;
        }
        ASSERT_EQ(v, want) << "trial " << trial;
        ASSERT_EQ(r, want) << "diff_2nd_r, trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DiffKernel, testing::ValuesIn(kKernelNames), param_name);

// ---- restoring from second differences

class PrefixSumsKernel : public testing::TestWithParam<const char *> {};

TEST_P(PrefixSumsKernel, EveryLengthAndStateMatchesModel) {
    KERNEL_OR_SKIP(kernel, wavecodec::prefix_sums_family);
    const std::vector<int32_t> pool = full_range(300 + 16, 11);
    std::mt19937 gen(12);
    for (size_t count = 0; count <= 300; ++count) {
        const size_t start = count % 16;
        std::vector<int32_t> got(pool.begin() + static_cast<ptrdiff_t>(start),
                                 pool.begin() + static_cast<ptrdiff_t>(start + count));
        std::vector<int32_t> want = got;
        uint32_t first = draw(gen), second = draw(gen);
        uint32_t model_first = first, model_second = second;
        kernel->run(got.data(), count, first, second);
        reference::restore(want.data(), count, model_first, model_second);
        ASSERT_EQ(got, want) << "count " << count;
        ASSERT_EQ(first, model_first) << "count " << count;
        ASSERT_EQ(second, model_second) << "count " << count;
    }
}

TEST_P(PrefixSumsKernel, PublicRestoreInvertsDifferences) {
    KERNEL_OR_SKIP(kernel, wavecodec::prefix_sums_family);
    Forced<wavecodec::PrefixSumsFn> forced(wavecodec::prefix_sums_family, *kernel);
    for (size_t n : {size_t{2}, size_t{7}, size_t{8}, size_t{9}, size_t{17}, size_t{100003}}) {
        const std::vector<int32_t> series = full_range(n, static_cast<uint32_t>(n));
        std::vector<int32_t> v = series;
        uint32_t a = 0, b = 0;
        reference::diff(v.data(), n, a, b);
        rem_2nd_diff(v.data(), static_cast<int>(n));
        ASSERT_EQ(v, series) << "count " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, PrefixSumsKernel, testing::ValuesIn(kKernelNames), param_name);

// ---- the table itself

TEST(KernelTable, EveryFamilyEndsWithAPortableKernelAndChoosesAUsableOne) {
    auto check = [](auto &family) {
        const auto kernels = family.kernels();
        ASSERT_FALSE(kernels.empty());
        EXPECT_STREQ(kernels.back().name, "portable") << family.name();
        EXPECT_EQ(kernels.back().needs, 0u) << family.name();
        EXPECT_NE(kernels.back().run, nullptr) << family.name();
        family.reset();
        const auto &best = family.best();
        EXPECT_TRUE(cpu::usable(best)) << family.name();
        // The choice is the first usable kernel of the list.
        for (const auto &k : kernels) {
            if (cpu::usable(k)) {
                EXPECT_EQ(&k, &best) << family.name();
                break;
            }
        }
        EXPECT_STREQ(family.chosen_name(), best.name) << family.name();
    };
    check(wavecodec::encode_block_family);
    check(wavecodec::diff_family);
    check(wavecodec::prefix_sums_family);
    check(wavecodec::decode_line_family);
}

// Every feature the detector reports is one the operating system reports too (Linux lists a
// vector feature only when it saves that state): a wrong CPUID bit or a missing XGETBV check
// would offer kernels that die with an illegal instruction. Under an emulator the processor may
// have fewer features than the system lists, never more.
TEST(CpuFeatures, DetectedFeaturesAreOnesTheSystemReports) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.rfind("flags", 0) != 0) {
        GTEST_SKIP() << "no x86 flags line in /proc/cpuinfo";
    }
    std::istringstream words(line.substr(line.find(':') + 1));
    std::vector<std::string> flags{std::istream_iterator<std::string>(words), {}};
    const struct {
        cpu::Feature feature;
        const char *flag;
    } linux_names[] = {{cpu::kPopcnt, "popcnt"},        {cpu::kBmi1, "bmi1"},
                       {cpu::kBmi2, "bmi2"},            {cpu::kAvx2, "avx2"},
                       {cpu::kAvx512f, "avx512f"},      {cpu::kAvx512dq, "avx512dq"},
                       {cpu::kAvx512cd, "avx512cd"},    {cpu::kAvx512bw, "avx512bw"},
                       {cpu::kAvx512vl, "avx512vl"},    {cpu::kAvx512vbmi, "avx512vbmi"},
                       {cpu::kAvx512vbmi2, "avx512_vbmi2"}};
    // LZCNT is left out: Linux lists it as "abm", which some virtual machines leave out although
    // CPUID reports it (no kernel uses LZCNT).
    ASSERT_EQ(std::size(linux_names) + 1, std::size(cpu::kAllFeatures));
    for (const auto &n : linux_names) {
        if (cpu::has(n.feature)) {
            EXPECT_TRUE(std::find(flags.begin(), flags.end(), n.flag) != flags.end())
                << cpu::feature_name(n.feature) << " detected, but the system lists no " << n.flag;
        }
    }
}

TEST(CpuFeatures, SkipReasonsNameWhatIsMissing) {
    char text[256];
    EXPECT_EQ(cpu::format_missing(0, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    for (cpu::Feature f : cpu::kAllFeatures) {
        const size_t n = cpu::format_missing(f, text, sizeof text);
        if (cpu::has(f)) {
            EXPECT_EQ(n, 0u) << cpu::feature_name(f);
        } else {
            EXPECT_GT(n, 0u) << cpu::feature_name(f);
#if defined(__x86_64__) || defined(__i386__)
            EXPECT_NE(std::string(text).find(cpu::feature_name(f)), std::string::npos) << text;
#endif
        }
    }
    // Cut to the buffer, NUL-terminated, full length reported.
    const size_t full = cpu::format_features(cpu::kAvx2 | cpu::kAvx512vbmi2, text, sizeof text);
    EXPECT_STREQ(text, "avx2 avx512vbmi2");
    char small[5];
    EXPECT_EQ(cpu::format_features(cpu::kAvx2 | cpu::kAvx512vbmi2, small, sizeof small), full);
    EXPECT_STREQ(small, "avx2");
}

}  // namespace
