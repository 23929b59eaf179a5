// The WID2 line under a comma-decimal locale set by the host: read and printed with "." decimals,
// byte for byte as in the C locale, the host's locale left as it was, also from several threads
// at once. The locale (de_DE, UTF-8) is compiled with localedef into a temporary folder; the tests
// are skipped, saying why, when that cannot be done.
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kLine[] =
    "WID2 2026/12/08 15:04:10.250 ABC   BHZ      CM6    18000  100.000000 1.2500e+00   1.000  "
    "STS-2  -1.5 90.0\n";

std::string written(const wid2_header &h) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    write_header(out, &h);
    std::fclose(out);
    std::string line(text, size);
    std::free(text);
    return line;
}

wid2_header read_line(const char *text) {
    wid2_header h{};
    FILE *in = fmemopen(const_cast<char *>(text), std::strlen(text), "r");
    read_header(in, &h);
    std::fclose(in);
    return h;
}

class CommaLocale : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "wid2_locale_XXXXXX").string();
        char *folder = error ? nullptr : mkdtemp(pattern.data());
        if (folder == nullptr) {
            why_ = "cannot make a temporary folder";
            return;
        }
        folder_ = folder;
        const std::string command = "localedef -i de_DE -f UTF-8 " + folder_ +
                                    "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 &&
            !std::filesystem::exists(folder_ + "/de_DE.UTF-8/LC_NUMERIC")) {
            why_ = "localedef could not build de_DE.UTF-8 (Debian package 'locales')";
        }
    }
    static void TearDownTestSuite() {
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    void SetUp() override {
        if (!why_.empty()) {
            GTEST_SKIP() << why_;
        }
        setenv("LOCPATH", folder_.c_str(), 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            unsetenv("LOCPATH");
            GTEST_SKIP() << "the generated de_DE.UTF-8 locale does not load on this system";
        }
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        if (std::string(probe) != "1,5") {
            GTEST_SKIP() << "de_DE.UTF-8 does not print a decimal comma here";
        }
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }

    static std::string folder_;
    static std::string why_;
};

std::string CommaLocale::folder_;
std::string CommaLocale::why_;

TEST_F(CommaLocale, ReadsDecimalPoints) {
    const wid2_header h = read_line(kLine);
    EXPECT_FLOAT_EQ(h.second, 10.25f);
    EXPECT_FLOAT_EQ(h.sample_rate, 100.0f);
    EXPECT_FLOAT_EQ(h.calibration, 1.25f);
    EXPECT_FLOAT_EQ(h.calibration_period, 1.0f);
    EXPECT_FLOAT_EQ(h.horizontal_angle, -1.5f);
    EXPECT_FLOAT_EQ(h.vertical_angle, 90.0f);
    EXPECT_EQ(h.sample_count, 18000);
    // The host's locale is as it set it.
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "de_DE.UTF-8");
}

TEST_F(CommaLocale, PrintsAsInTheCLocale) {
    wid2_header h = read_line(kLine);
    h.second = 5.0625f;         // rounds to 5.062 (ties to even on the exact binary value)
    h.calibration = 0.000123456f;
    const std::string here = written(h);
    std::setlocale(LC_ALL, "C");
    const std::string in_c = written(h);
    EXPECT_EQ(here, in_c);
    EXPECT_EQ(here.substr(16, 12), "15:04:05.062");
    EXPECT_EQ(written(read_line(kLine)), kLine);
}

TEST_F(CommaLocale, ThreadsLeaveEachOthersLocaleAlone) {
    // Several threads read and print while the host's locale is the comma one; each keeps its
    // own results and the process's locale stays the host's.
    std::vector<std::thread> threads;
    std::vector<int> faults(4, 0);
    for (size_t t = 0; t < faults.size(); ++t) {
        threads.emplace_back([t, &faults] {
            for (int i = 0; i < 200; ++i) {
                const wid2_header h = read_line(kLine);
                if (h.second != 10.25f || written(h) != kLine) {
                    ++faults[t];
                }
                char probe[16];
                std::snprintf(probe, sizeof probe, "%.1f", 1.5);
                if (std::string(probe) != "1,5") {
                    ++faults[t];
                }
            }
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    EXPECT_EQ(faults, std::vector<int>(4, 0));
}

}  // namespace
