// Arrays converted in place: every length and start offset, only the given words touched, and
// nothing at all for empty, negative or null input.
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "converters.h"
#include "reference_model.h"

namespace {

constexpr uint32_t kGuard = 0x7FC0DEADu;  // a NaN pattern: no conversion ever writes it
constexpr size_t kGuardWords = 24;

// Words of every kind: normal, subnormal, zero, overflowing; both signs.
uint32_t mixed_word(size_t i) {
    static const uint32_t kinds[] = {0x42640000u, 0xC276A000u, 0x1C0C0000u, 0x80000000u,
                                     0x61100000u, 0x60FFFFFFu, 0x213FFFFFu, 0x41100000u};
    return kinds[i % 8] ^ static_cast<uint32_t>((i * 2654435761u) & 0x0000FFFFu);
}

class InPlace : public ConverterTest<Converter> {};

TEST_P(InPlace, EveryLengthAndOffsetTouchesOnlyItsWords) {
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t count = 0; count <= 100; ++count) {
            std::vector<uint32_t> buffer(2 * kGuardWords + 16 + count, kGuard);
            uint32_t *start = buffer.data() + kGuardWords + offset;
            for (size_t i = 0; i < count; ++i) {
                start[i] = mixed_word(i + count);
            }
            GetParam().run(start, count);
            for (size_t i = 0; i < buffer.size(); ++i) {
                const auto at = static_cast<size_t>(&buffer[i] - start);
                const bool inside = &buffer[i] >= start && at < count;
                const uint32_t wanted =
                    inside ? reference_ibm_to_ieee(mixed_word(at + count)) : kGuard;
                ASSERT_EQ(buffer[i], wanted)
                    << "offset " << offset << ", count " << count << ", buffer index " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Converters, InPlace, testing::ValuesIn(every_converter()),
                         converter_name);

TEST(PublicEntry, EmptyNegativeOrNullDoesNothing) {
    std::vector<uint32_t> buffer(8, 0x41100000u);
    ibm2ieee(buffer.data(), 0);
    ibm2ieee(buffer.data(), -1);
    ibm2ieee(buffer.data(), INT32_MIN);
    for (uint32_t w : buffer) {
        EXPECT_EQ(w, 0x41100000u);
    }
    ibm2ieee(nullptr, 8);
    ibm2ieee(nullptr, 0);
}

// Several threads making the process's first calls at once all get correct results.
TEST(PublicEntry, ConcurrentFirstCalls) {
    constexpr int kThreads = 4;
    std::vector<std::vector<uint32_t>> buffers(kThreads);
    for (auto &b : buffers) {
        for (size_t i = 0; i < 4099; ++i) {
            b.push_back(mixed_word(i));
        }
    }
    std::vector<std::thread> threads;
    for (auto &b : buffers) {
        threads.emplace_back([&b] { ibm2ieee(b.data(), static_cast<int>(b.size())); });
    }
    for (auto &t : threads) {
        t.join();
    }
    for (const auto &b : buffers) {
        for (size_t i = 0; i < b.size(); ++i) {
            ASSERT_EQ(b[i], reference_ibm_to_ieee(mixed_word(i))) << "index " << i;
        }
    }
}

}  // namespace
