// The WID2 line: columns of the printed line, parsing, round trips, skipping, short and odd lines.
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

wid2_header sample_record() {
    wid2_header h{};
    h.year = 2026;
    h.month = 12;
    h.day = 8;
    h.hour = 15;
    h.minute = 4;
    h.second = 5.25f;
    std::strcpy(h.station, "ABC");
    std::strcpy(h.channel, "BHZ");
    std::strcpy(h.aux_id, "");
    std::strcpy(h.data_format, "CM6");
    h.sample_count = 18000;
    h.sample_rate = 100.0f;
    h.calibration = 1.0f;
    h.calibration_period = 1.0f;
    std::strcpy(h.instrument_type, "STS-2");
    h.horizontal_angle = -1.0f;
    h.vertical_angle = 90.0f;
    return h;
}

std::string written(const wid2_header &h, int *result = nullptr) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    const int r = write_header(out, &h);
    std::fclose(out);
    std::string line(text, size);
    std::free(text);
    if (result != nullptr) {
        *result = r;
    }
    return line;
}

// Reads a header from `text`; `after` receives the next line of the stream (or "EOF").
int read_from(const std::string &text, wid2_header *h, std::string *after = nullptr) {
    FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    const int r = read_header(in, h);
    if (after != nullptr) {
        char next[256];
        *after = std::fgets(next, sizeof next, in) ? next : "EOF";
    }
    std::fclose(in);
    return r;
}

std::string field(const char *text, size_t width) {
    return std::string(text, width);
}

TEST(Wid2Header, PrintsEachFieldInItsColumns) {
    int result = 0;
    const std::string line = written(sample_record(), &result);
    ASSERT_EQ(line.size(), 106u);  // 105 columns and the newline
    EXPECT_EQ(result, 106);
    auto columns = [&](size_t first, size_t last) {
        return line.substr(first - 1, last - first + 1);
    };
    EXPECT_EQ(columns(1, 5), "WID2 ");
    EXPECT_EQ(columns(6, 9), "2026");
    EXPECT_EQ(columns(11, 12), "12");
    EXPECT_EQ(columns(14, 15), "08");
    EXPECT_EQ(columns(17, 18), "15");
    EXPECT_EQ(columns(20, 21), "04");
    EXPECT_EQ(columns(23, 28), "05.250");
    EXPECT_EQ(columns(30, 34), "ABC  ");
    EXPECT_EQ(columns(36, 38), "BHZ");
    EXPECT_EQ(columns(40, 43), "    ");
    EXPECT_EQ(columns(45, 47), "CM6");
    EXPECT_EQ(columns(49, 56), "   18000");
    EXPECT_EQ(columns(58, 68), " 100.000000");
    EXPECT_EQ(columns(70, 79), "1.0000e+00");
    EXPECT_EQ(columns(81, 87), "  1.000");
    EXPECT_EQ(columns(89, 94), "STS-2 ");
    EXPECT_EQ(columns(96, 100), " -1.0");
    EXPECT_EQ(columns(102, 105), "90.0");
    EXPECT_EQ(line.back(), '\n');
}

TEST(Wid2Header, RoundTripKeepsFieldsToThePrintedPrecision) {
    wid2_header h = sample_record();
    h.second = 59.987654f;
    h.sample_rate = 39.0625f;
    h.calibration = 0.000123456f;
    h.calibration_period = 12.34567f;
    std::strcpy(h.aux_id, "SP1");
    wid2_header back{};
    ASSERT_EQ(read_from(written(h), &back), 0);
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.month, 12);
    EXPECT_EQ(back.day, 8);
    EXPECT_EQ(back.hour, 15);
    EXPECT_EQ(back.minute, 4);
    EXPECT_NEAR(back.second, 59.988, 1e-4);
    EXPECT_EQ(field(back.station, 6), std::string("ABC  \0", 6));
    EXPECT_EQ(field(back.channel, 4), std::string("BHZ\0", 4));
    EXPECT_EQ(field(back.aux_id, 5), std::string("SP1 \0", 5));
    EXPECT_EQ(field(back.data_format, 4), std::string("CM6\0", 4));
    EXPECT_EQ(field(back.instrument_type, 7), std::string("STS-2 \0", 7));
    EXPECT_EQ(back.sample_count, 18000);
    EXPECT_NEAR(back.sample_rate, 39.0625, 1e-6);
    EXPECT_FLOAT_EQ(back.calibration, 0.00012346f);
    EXPECT_NEAR(back.calibration_period, 12.346, 1e-4);
    EXPECT_FLOAT_EQ(back.horizontal_angle, -1.0f);
    EXPECT_FLOAT_EQ(back.vertical_angle, 90.0f);
}

TEST(Wid2Header, SkipsToTheLineThatStartsWithWid2) {
    const std::string line = written(sample_record());
    std::string after;
    wid2_header h{};
    EXPECT_EQ(
        read_from("BEGIN GSE2.0\n WID2 not at the start\nWID\n" + line + "STA2 x\n", &h, &after),
        0);
    EXPECT_EQ(h.sample_count, 18000);
    EXPECT_EQ(after, "STA2 x\n");  // the stream stands just after the WID2 line
}

TEST(Wid2Header, NoHeaderLeavesTheRecordAlone) {
    wid2_header h = sample_record();
    const wid2_header before = h;
    EXPECT_EQ(read_from("DAT2\n WID2\nCHK2 0\n", &h), -1);
    EXPECT_EQ(read_from("", &h), -1);
    EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0);
}

TEST(Wid2Header, ShortLineFillsTheRestOfItsFieldsWithNuls) {
    // An earlier, longer line must leave nothing behind, and the end-of-line characters (LF or
    // CR LF) are not part of any field.
    for (const char *eol : {"\n", "\r\n", ""}) {
        wid2_header h = sample_record();
        const std::string junk(118, 'X');
        ASSERT_EQ(read_from(junk + "\nWID2 2026/12/08 15:04:05.250 AB" + eol, &h), 0);
        EXPECT_EQ(field(h.station, 6), std::string("AB\0\0\0\0", 6)) << "eol " << std::strlen(eol);
        EXPECT_EQ(field(h.channel, 4), std::string(4, '\0'));
        EXPECT_EQ(field(h.aux_id, 5), std::string(5, '\0'));
        EXPECT_EQ(field(h.data_format, 4), std::string(4, '\0'));
        EXPECT_EQ(field(h.instrument_type, 7), std::string(7, '\0'));
        // Numbers that are not there keep their values.
        EXPECT_EQ(h.sample_count, 18000);
        EXPECT_FLOAT_EQ(h.sample_rate, 100.0f);
        EXPECT_NEAR(h.second, 5.25, 1e-6);
    }
}

TEST(Wid2Header, UnconvertibleNumberKeepsItAndTheRestOfItsScan) {
    std::string line = written(sample_record());
    line.replace(48, 8, "  many  ");  // sample count
    wid2_header h = sample_record();
    h.sample_count = 7;
    h.sample_rate = 3.0f;
    h.vertical_angle = 1.5f;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.sample_count, 7);
    EXPECT_FLOAT_EQ(h.sample_rate, 3.0f);
    EXPECT_FLOAT_EQ(h.vertical_angle, 1.5f);
    EXPECT_EQ(h.year, 2026);  // the date and time are a scan of their own
}

TEST(Wid2Header, BlankNumericFieldKeepsItAndTheRestOfItsScan) {
    wid2_header before = sample_record();
    before.sample_count = 7;
    before.sample_rate = 3.0f;
    before.calibration = 2.5f;
    before.calibration_period = 0.5f;
    before.horizontal_angle = 11.0f;
    before.vertical_angle = 1.5f;
    before.second = 59.5f;
    before.minute = 33;
    const std::string full = written(sample_record());

    // A blank count: it and everything after it keep the record's values (the count's scan used
    // to skip the blanks and take the rate's digits, and the rate then read 0).
    std::string line = full;
    line.replace(48, 8, std::string(8, ' '));
    wid2_header h = before;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.sample_count, 7);
    EXPECT_FLOAT_EQ(h.sample_rate, 3.0f);
    EXPECT_FLOAT_EQ(h.calibration, 2.5f);
    EXPECT_FLOAT_EQ(h.vertical_angle, 1.5f);
    EXPECT_EQ(h.minute, 4);  // the date and time are a scan of their own
    EXPECT_STREQ(h.data_format, "CM6");

    // A blank calibration: the fields before it convert; it, the period and the angles keep
    // theirs (it used to take the period's value).
    line = full;
    line.replace(69, 10, std::string(10, ' '));
    h = before;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.sample_count, 18000);
    EXPECT_FLOAT_EQ(h.sample_rate, 100.0f);
    EXPECT_FLOAT_EQ(h.calibration, 2.5f);
    EXPECT_FLOAT_EQ(h.calibration_period, 0.5f);
    EXPECT_FLOAT_EQ(h.horizontal_angle, 11.0f);

    // Blank seconds before a numeric station code: the code is not taken for the seconds.
    line = full;
    line.replace(22, 6, std::string(6, ' '));
    line.replace(29, 5, "12345");
    h = before;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.minute, 4);
    EXPECT_FLOAT_EQ(h.second, 59.5f);
    EXPECT_EQ(field(h.station, 5), "12345");

    // Blank minutes: they and the seconds keep their values.
    line = full;
    line.replace(19, 2, "  ");
    h = before;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.hour, 15);
    EXPECT_EQ(h.minute, 33);
    EXPECT_FLOAT_EQ(h.second, 59.5f);

    // A field with some digits is not blank: " 5" still reads 5.
    line = full;
    line.replace(16, 2, " 5");
    h = before;
    ASSERT_EQ(read_from(line, &h), 0);
    EXPECT_EQ(h.hour, 5);
    EXPECT_EQ(h.minute, 4);
}

TEST(Wid2Header, OverlongLineIsReadWhole) {
    // A line longer than the read buffer: the stream still stands after the whole line, so its
    // tail is never taken for the next line.
    std::string line = written(sample_record());
    line.insert(line.size() - 1, std::string(200, ' ') + "WID2 tail");
    std::string after;
    wid2_header h{};
    ASSERT_EQ(read_from(line + "DAT2\n", &h, &after), 0);
    EXPECT_EQ(after, "DAT2\n");
    EXPECT_FLOAT_EQ(h.vertical_angle, 90.0f);
}

TEST(Wid2Header, TextFieldsPrintToAtMostTheirWidths) {
    wid2_header h = sample_record();
    std::memset(h.station, 'S', sizeof h.station);  // no NUL anywhere in the field
    std::memset(h.instrument_type, 'I', sizeof h.instrument_type);
    const std::string line = written(h);
    ASSERT_EQ(line.size(), 106u);
    EXPECT_EQ(line.substr(29, 6), "SSSSS ");
    EXPECT_EQ(line.substr(88, 7), "IIIIII ");
}

TEST(Wid2Header, NullArguments) {
    wid2_header h = sample_record();
    FILE *in = fmemopen(const_cast<char *>("WID2\n"), 5, "r");
    EXPECT_EQ(read_header(nullptr, &h), -1);
    EXPECT_EQ(read_header(in, nullptr), -1);
    EXPECT_EQ(write_header(nullptr, &h), -1);
    EXPECT_EQ(write_header(in, nullptr), -1);
    std::fclose(in);
}

}  // namespace
