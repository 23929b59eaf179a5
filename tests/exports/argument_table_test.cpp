// Every export of both libraries over a grid of argument edges (null pointers and out-parameters,
// counts and capacities from INT_MIN up, widths and columns from INT_MIN to INT_MAX) against a
// model of the argument tables in the header docs (wavecodec.h, ibmfloat.h), on fixed inputs whose
// results are known (tests/support/reference_codec.h for the codec's). Everything a call may touch
// (its result, the output with guard bytes after it, the samples, every out-parameter, the
// writer's and reader's calls, the differencing state, the stream) is printed as text and
// compared with what the model prints for the same point. Exports alike share a grid, the export
// being its first choice.
#include "ibmfloat.h"
#include "reference_codec.h"
#include "wavecodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

const int kCounts[] = {INT_MIN, -1, 0, 1, 2, 4};
const int kDecodeCounts[] = {INT_MIN, -1, 0, 1, 3, 4};
const int kWidths[] = {INT_MIN, -1, 0, 1, 3, INT_MAX};
constexpr int64_t kNoColumn = INT64_MIN;  // a column's value standing for a null pointer
const int64_t kColumns[] = {kNoColumn, INT_MIN, -1, 0, 1, 2, INT_MAX - 1, INT_MAX};
const size_t kCapacities[] = {0, 1, 2, 3, 5, 6, 64};
constexpr size_t kOut = 64;   // output bytes offered at most
constexpr size_t kGuard = 8;  // guard bytes after them
constexpr int32_t kUnset = 0x5a5a5a5a;

std::string entries(const std::vector<int32_t> &v) {
    std::string s;
    for (int32_t x : v) {
        s += x == kUnset ? "_ " : std::to_string(x) + " ";
    }
    return s;
}

// Everything one call may touch; the model starts from a copy taken before the call. Only the
// out-parameters the call was given are printed: a sentinel shows one left untouched.
struct Touched {
    int64_t result = 0;
    std::string out = std::string(kOut + kGuard, '#');
    std::vector<int32_t> samples = std::vector<int32_t>(6, kUnset);
    int column = kUnset, count = kUnset, clamped = kUnset;
    size_t length = 777, used = 777;
    unsigned given = 0;  // bit k: out-parameter k of text() was passed
    std::string note;    // what else the call touched

    template <typename T>
    T *give(T &field, unsigned bit, bool null) {
        given |= null ? 0 : 1u << bit;
        return null ? nullptr : &field;
    }
    std::string text() const {
        const int64_t outs[] = {column, static_cast<int64_t>(length), clamped, count,
                                static_cast<int64_t>(used)};
        std::string s = std::to_string(result) + " [" + out + "] [" + entries(samples) + "]";
        for (unsigned k = 0; k < 5; ++k) {
            s += given >> k & 1 ? " " + std::to_string(k) + "=" + std::to_string(outs[k]) : "";
        }
        return s + " " + note;
    }
};
enum : unsigned { kColumn, kLength, kClamped, kCount, kUsed };

using Pick = std::vector<size_t>;
using Texts = std::pair<std::string, std::string>;

// Runs `body` on every combination of choices (an index into each argument's list; choice 1 of
// a pointer argument is null). It returns what the call touched and what the model says, as text
// (both empty for a point the export has not); the first few points that differ are reported.
void sweep(const std::vector<size_t> &sizes, const std::function<Texts(const Pick &)> &body) {
    int points = 0, mismatches = 0;
    Pick p(sizes.size(), 0);
    for (size_t k = 0; k < sizes.size();) {
        const Texts t = body(p);
        points += t.first.empty() ? 0 : 1;
        if (t.first != t.second && ++mismatches <= 4) {
            std::string at;
            for (size_t x : p) {
                at += std::to_string(x) + " ";
            }
            ADD_FAILURE() << "at choices " << at << "\n  got:  " << t.first
                          << "\n  want: " << t.second;
        }
        for (k = 0; k < sizes.size() && ++p[k] == sizes[k]; ++k) {
            p[k] = 0;
        }
    }
    EXPECT_GT(points, 0);
    EXPECT_EQ(mismatches, 0) << mismatches << " of " << points << " points differ from the table";
}

// ---- the encoders: samples of one to six characters, the last clamped ("-", "F", "UE", "XzzzzT")

const int32_t kSamples[4] = {1, -1, 16, 200000000};
const int32_t kValues[4] = {7, -12, 345, INT32_MIN};  // for samples_to_text
std::string written;

int collect(int c) {
    written.push_back(static_cast<char>(c));
    return c;
}

// The writers' model: each sample's bytes with what ends its line, and the column after it.
using Pieces = std::vector<std::pair<std::string, int64_t>>;

Pieces code_pieces(int count, int64_t width, int64_t at, bool end_line) {
    Pieces v;
    for (int i = 0; i < count; ++i) {
        std::string piece;
        for (char c : reference::code(kSamples[i])) {
            piece += c;
            piece += ++at == width ? "\n" : "";
            at = at == width ? 0 : at;
        }
        v.emplace_back(piece, at);
    }
    if (end_line && at > 0) {
        v.emplace_back("\n", 0);
    }
    return v;
}

Pieces value_pieces(int count, int64_t per_line, int64_t at, bool end_line) {
    Pieces v;
    for (int i = 0; i < count; ++i) {
        const bool ends = at + 1 == per_line || (end_line && i + 1 == count);
        v.emplace_back((at > 0 ? " " : "") + std::to_string(kValues[i]) + (ends ? "\n" : ""),
                       ends ? 0 : at + 1);
        at = v.back().second;
    }
    return v;
}

TEST(ExportArguments, Writers) {
    // export (compress_6b_chars, compress_6b_lines, samples_to_text, compress_6b_buffer with
    // out choosing the writer), samples, count, width, column, out, capacity, out-parameters
    sweep({4, 2, 6, 6, 8, 2, 7, 2}, [](const Pick &p) {
        const size_t e = p[0];
        const bool lines = e == 1 || e == 2;
        if ((!lines && (p[3] != 0 || p[4] != 0)) || (e == 3 && (p[6] != 0 || p[7] != 0))) {
            return Texts{};
        }
        const int32_t *samples = p[1] == 1 ? nullptr : e == 2 ? kValues : kSamples;
        const int count = kCounts[p[2]];
        const int width = kWidths[p[3]];
        const int64_t column0 = kColumns[p[4]];
        const size_t capacity = e == 3 ? SIZE_MAX : kCapacities[p[6]];
        Touched got;
        got.column = static_cast<int>(column0);
        int *column_p = got.give(got.column, kColumn, !lines || column0 == kNoColumn);
        char *out = p[5] == 1 ? nullptr : got.out.data();
        size_t *length_p = got.give(got.length, kLength, p[7] == 1 || e == 3);
        int *clamped_p = got.give(got.clamped, kClamped, p[7] == 1 || e != 1);
        Touched want = got;
        got.result =
            e == 0   ? compress_6b_chars(samples, count, out, capacity, length_p)
            : e == 1 ? compress_6b_lines(samples, count, width, column_p, out, capacity, length_p,
                                         clamped_p)
            : e == 2
                ? samples_to_text(samples, count, width, column_p, out, capacity, length_p)
                : (written.clear(), compress_6b_buffer(samples, count, out ? collect : nullptr));
        got.note = e == 3 ? written : "";
        // The model: -3 for a bad width or column whatever else, -1 for null samples or out
        // with a positive count (the open line kept), else whole pieces while they fit (with no
        // column the last line ended): the samples printed, or -2 when not all fit.
        const int64_t at = column_p == nullptr ? 0 : column0;
        want.length = 0;
        want.clamped = 0;
        if (lines && (width < 1 || at < 0 || at >= width)) {
            want.result = -3;
        } else if (count > 0 && (samples == nullptr || out == nullptr)) {
            want.result = -1;
        } else {
            const bool end_line = column_p == nullptr && lines;
            const Pieces pieces = e == 2
                                      ? value_pieces(count, width, at, end_line)
                                      : code_pieces(count, lines ? width : INT64_MAX, at, end_line);
            std::string text;
            size_t n = 0;
            for (; n < pieces.size() && text.size() + pieces[n].first.size() <= capacity; ++n) {
                text += pieces[n].first;
                want.clamped +=
                    static_cast<int>(n) < count && kSamples[n] > reference::kMaxMagnitude;
            }
            (e == 3 ? want.note : want.out).replace(0, text.size(), text);
            want.length = text.size();
            want.column = static_cast<int>(n == 0 ? column0 : pieces[n - 1].second);
            want.result = e == 2 ? static_cast<int64_t>(n) : n < pieces.size() ? -2 : 0;
        }
        return Texts{got.text(), want.text()};
    });
}

// ---- the decoders: "-F\nUE\n" holds 1, -1 and 16

struct Lines {
    std::vector<std::string> lines{"DAT2\n", "-F\n", "UE\n", "CHK2 0\n"};
    size_t next = 0;

    static char *read(char *buffer, void *stream) {
        auto *self = static_cast<Lines *>(stream);
        if (self->next == self->lines.size()) {
            return nullptr;
        }
        std::snprintf(buffer, WAVECODEC_LINE_BUFFER, "%s", self->lines[self->next++].c_str());
        return buffer;
    }
};

TEST(ExportArguments, Decoders) {
    // Per length of the text decomp_6b_chars takes and positive count: the result, the samples
    // stored and *used.
    const struct {
        size_t length;
        int count, result, stored;
        size_t used;
    } kDecoded[] = {
        {0, 1, 0, 0, 0}, {0, 3, 0, 0, 0},  {0, 4, 0, 0, 0},   // no text: nothing
        {4, 1, 1, 1, 3}, {4, 3, -1, 2, 4}, {4, 4, -1, 2, 4},  // ends inside "UE"
        {6, 1, 1, 1, 3}, {6, 3, 3, 3, 6},  {6, 4, 3, 3, 6},   // ends where a sample is due
    };
    const int32_t decoded[3] = {1, -1, 16};
    // export (decomp_6b_buffer, decomp_6b_chars), count, samples, reader or text, length, used
    sweep({2, 6, 2, 2, 3, 2}, [&](const Pick &p) {
        const bool chars = p[0] == 1;
        if (!chars && (p[4] != 0 || p[5] != 0)) {
            return Texts{};
        }
        const int count = kDecodeCounts[p[1]];
        const size_t length = std::vector<size_t>{0, 4, 6}[p[4]];
        Touched got;
        int32_t *samples = p[2] == 1 ? nullptr : got.samples.data();
        size_t *used_p = got.give(got.used, kUsed, !chars || p[5] == 1);
        Touched want = got;
        Lines source, model;
        if (chars) {
            got.result =
                decomp_6b_chars(p[3] == 1 ? nullptr : "-F\nUE\n", length, count, samples, used_p);
        } else {
            testing::internal::CaptureStdout();
            got.result =
                decomp_6b_buffer(count, samples, p[3] == 1 ? nullptr : Lines::read, &source);
            got.note = testing::internal::GetCapturedStdout();
        }
        got.note += "lines=" + std::to_string(source.next);
        // The model: the table's rows, then the plain decoder or the rows above.
        want.used = 0;
        if (count > 0 && (samples == nullptr || (p[3] == 1 && (!chars || length > 0)))) {
            want.result = -1;
        } else if (chars) {
            for (const auto &d : kDecoded) {
                if (d.length == length && d.count == count) {
                    want.result = d.result;
                    want.used = d.used;
                    std::copy(decoded, decoded + d.stored, want.samples.begin());
                }
            }
        } else if (count == 0) {
            want.note = "decomp_6b: no action.\n";
        } else if (p[3] == 1) {
            want.result = -1;
        } else if (count < 0) {
            model.next = 2;  // the heading and the line after it
        } else {
            want.result =
                reference::decomp_6b_buffer(count, want.samples.data(), Lines::read, &model);
            want.note = want.result >= 0 && want.result < count
                            ? "decomp_6b: CHK2 or CHK1 reached prematurely!\n"
                            : "";
        }
        want.note += "lines=" + std::to_string(model.next);
        return Texts{got.text(), want.text()};
    });
}

// ---- second differences (each continuing a series under way: inputs 5, 7; diff_2nd's state
// seen through a probe call after it), restoring, checksum

TEST(ExportArguments, SampleArrays) {
    const int32_t series[4] = {10, 20, 40, -70}, sums[4] = {99999999, 5, -3, INT32_MIN};
    const int initials[] = {INT_MIN, -7, 0, 99999999, INT_MAX};
    const auto state_text = [](int64_t second_last, int64_t last) {
        return std::to_string(static_cast<int32_t>(second_last)) + "," +
               std::to_string(static_cast<int32_t>(last));
    };
    // export (diff_2nd, diff_2nd_r, rem_2nd_diff, check_sum), state, samples, count, continued
    // or initial
    sweep({4, 2, 2, 6, 5}, [&](const Pick &p) {
        const size_t e = p[0];
        if ((e != 1 && p[1] == 1) || (e < 2 && p[4] > 1) || (e == 2 && p[4] > 0)) {
            return Texts{};
        }
        const int count = kCounts[p[3]], continued = static_cast<int>(p[4]);
        Touched got;
        std::copy(e == 3 ? sums : series, (e == 3 ? sums : series) + 4, got.samples.begin());
        int32_t *samples = p[2] == 1 ? nullptr : got.samples.data();
        Touched want = got;
        diff_2nd_state state{5, 7};
        int32_t prime[2] = {5, 7}, probe = 0;
        if (e == 0) {
            diff_2nd(prime, 2, 0);
            diff_2nd(samples, count, continued);
            diff_2nd(&probe, 1, 1);
        } else if (e == 2) {
            rem_2nd_diff(samples, count);
        }
        got.result = e == 1   ? diff_2nd_r(p[1] == 1 ? nullptr : &state, samples, count, continued)
                     : e == 3 ? check_sum(samples, count, initials[p[4]])
                              : 0;
        got.note = std::to_string(probe) + " " + state_text(state.second_last, state.last);
        // The model: a refused diff_2nd_r changes nothing; diff_2nd refuses nothing, and a
        // continued 0 starts a series even with no sample changed.
        uint32_t second_last = 5, last = 7;
        const bool refused = e == 1 && (p[1] == 1 || (samples == nullptr && count > 0));
        want.result = refused ? -1 : e == 3 ? initials[p[4]] : 0;
        if (e < 2 && !refused && continued == 0) {
            second_last = last = 0;
        }
        if (samples != nullptr && count > 0 && e < 2 && !refused) {
            reference::diff(want.samples.data(), static_cast<size_t>(count), second_last, last);
        } else if (samples != nullptr && count > 0 && e == 2) {
            reference::rem_2nd_diff(want.samples.data(), count);
        } else if (samples != nullptr && count > 0 && e == 3) {
            want.result = reference::check_sum(sums, count, initials[p[4]]);
        }
        want.note = e == 1 ? "0 " + state_text(second_last, last) : "0 5,7";
        int32_t model_probe = 0;
        reference::diff(&model_probe, 1, second_last, last);
        want.note = e == 0 ? std::to_string(model_probe) + " 5,7" : want.note;
        return Texts{got.text(), want.text()};
    });
}

// ---- samples from text

TEST(ExportArguments, SamplesFromText) {
    const char kText[] = "12 -3 +4";
    const int capacities[] = {INT_MIN, -1, 0, 1, 3, INT_MAX};
    // text, length, last, samples, capacity, count and used
    sweep({2, 4, 2, 2, 6, 2}, [&](const Pick &p) {
        const char *text = p[0] == 1 ? nullptr : kText;
        const size_t length = std::vector<size_t>{0, 2, 5, 8}[p[1]];
        const int last = static_cast<int>(p[2]);
        const int capacity = capacities[p[4]];
        Touched got;
        int32_t *samples = p[3] == 1 ? nullptr : got.samples.data();
        int *count_p = got.give(got.count, kCount, p[5] == 1);
        size_t *used_p = got.give(got.used, kUsed, p[5] == 1);
        Touched want = got;
        got.result = samples_from_text(text, length, last, samples, capacity, count_p, used_p);
        // The model: the words of text[0, length), each stored while there is room; with `last`
        // 0 a word reaching the end is left unread.
        want.count = 0;
        want.used = 0;
        if ((text == nullptr && length > 0) || capacity < 0 ||
            (samples == nullptr && capacity > 0)) {
            want.result = -4;
        } else {
            want.used = length;
            for (size_t at = 0; at < length;) {
                const size_t start = at;
                at = std::min(std::string(kText).find(' ', at), length);
                if ((last == 0 && at == length) || want.count == capacity) {
                    want.result = last == 0 && at == length ? 0 : -2;
                    want.used = start;
                    break;
                }
                want.samples[static_cast<size_t>(want.count++)] =
                    std::stoi(std::string(kText + start, at - start));
                at += at < length ? 1 : 0;
            }
        }
        return Texts{got.text(), want.text()};
    });
}

// ---- the header line, through streams in memory

TEST(ExportArguments, HeaderLine) {
    wid2_header h{};
    h.year = 2026;
    h.sample_count = 3;
    std::strcpy(h.station, "ABC");
    std::strcpy(h.data_format, "CM6");
    char line[160] = {};
    FILE *out = fmemopen(line, sizeof line, "w");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(write_header(out, &h), 106);
    std::fclose(out);
    // export (read_header from a stream holding that line, write_header to a writable stream, to
    // a read-only one: an output error, some negative result), stream, header
    sweep({3, 2, 2}, [&](const Pick &p) {
        const bool refused = p[1] == 1 || p[2] == 1;
        char buffer[160] = {};
        std::memcpy(buffer, line, p[0] == 0 ? sizeof line : 0);
        FILE *stream = p[1] == 1 ? nullptr
                                 : fmemopen(buffer, p[0] == 0 ? std::strlen(line) : sizeof buffer,
                                            p[0] == 1 ? "w" : "r");
        wid2_header got;
        std::memset(&got, 0x5a, sizeof got);
        wid2_header *header = p[2] == 1 ? nullptr : p[0] == 0 ? &got : &h;
        const int r = p[0] == 0 ? read_header(stream, header) : write_header(stream, header);
        const long at = stream == nullptr ? 0 : std::ftell(stream);
        if (stream != nullptr) {
            std::fclose(stream);
        }
        const auto text = [](const std::string &result, long at_, int year, int count, size_t n) {
            return result + " at=" + std::to_string(at_) + " year=" + std::to_string(year) +
                   " count=" + std::to_string(count) + " written=" + std::to_string(n);
        };
        const bool error = p[0] == 2 && !refused;
        const bool read = p[0] == 0 && !refused;
        return Texts{text(error && r < 0 ? "negative" : std::to_string(r), at, got.year,
                          got.sample_count, std::strlen(buffer)),
                     text(refused ? "-1"
                          : error ? "negative"
                          : read  ? "0"
                                  : "106",
                          refused || error ? 0 : 106, read ? 2026 : kUnset, read ? 3 : kUnset,
                          p[0] == 0 || (!refused && !error) ? 106 : 0)};
    });
}

// ---- ibmfloat: known words each way, then guard entries

template <typename T>
std::vector<uint64_t> bits(const T *v, size_t n) {
    std::vector<uint64_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        if constexpr (std::is_integral_v<T>) {
            out[i] = v[i];  // by value: a word's bytes land where the byte order puts them
        } else {
            static_assert(sizeof(T) == sizeof(uint64_t));
            std::memcpy(&out[i], &v[i], sizeof(T));
        }
    }
    return out;
}

std::string hex(int r, const std::vector<uint64_t> &v) {
    std::ostringstream s;
    s << r << std::hex;
    for (uint64_t x : v) {
        s << ' ' << x;
    }
    return s.str();
}

TEST(ExportArguments, IbmFloat) {
    constexpr uint32_t kG = 0xdeadbeef;  // guard words after the known ones
    const uint32_t ibm[6] = {0x41100000, 0xC2640000, 0x80000000, 0x61100000, kG, kG};
    const uint32_t ieee[6] = {0x3F800000, 0xC2C80000, 0x80000000, 0x7F800000, kG, kG};
    const uint32_t guards[6] = {kG, kG, kG, kG, kG, kG};
    const double doubles[4] = {1.0, -100.0, 1e76, -0.0}, exact[4] = {1.0, -100.0, -0.0, 0x1p128};
    // Per export: the words it converts in place or writes, the first four entries after it, and
    // the one with no IBM value.
    const struct {
        const uint32_t *before;
        std::vector<uint64_t> after;
        int no_value_at;
    } rows[] = {
        {ibm, bits(ieee, 4), -1},                                       // ibm2ieee
        {ieee, {0x41100000, 0xC2640000, 0x80000000, 0x7FFFFFFF}, 3},    // ieee2ibm
        {guards, bits(exact, 4), -1},                                   // ibm2double
        {guards, {0x41100000, 0xC2640000, 0x7FFFFFFF, 0x80000000}, 2},  // double2ibm
    };
    // export (ibm2ieee, ieee2ibm, ibm2double, double2ibm), count, in, out (not the in-place ones)
    sweep({4, 6, 2, 2}, [&](const Pick &p) {
        const size_t e = p[0];
        if (e < 2 && p[3] == 1) {
            return Texts{};
        }
        const int count = kCounts[p[1]];
        std::vector<uint32_t> w(rows[e].before, rows[e].before + 6);
        std::vector<double> d(6, -1.5);
        std::vector<uint64_t> want = e == 2 ? bits(d.data(), 6) : bits(w.data(), 6);
        uint32_t *words = p[e < 2 ? 2 : 3] == 1 ? nullptr : w.data();
        const int r =
            e == 0   ? (ibm2ieee(words, count), 0)
            : e == 1 ? ieee2ibm(words, count)
            : e == 2
                ? (ibm2double(p[2] == 1 ? nullptr : ibm, p[3] == 1 ? nullptr : d.data(), count), 0)
                : double2ibm(p[2] == 1 ? nullptr : doubles, words, count);
        int none = 0;
        for (int i = 0; p[2] == 0 && p[3] == 0 && i < count; ++i) {
            want[static_cast<size_t>(i)] = rows[e].after[static_cast<size_t>(i)];
            none += i == rows[e].no_value_at ? 1 : 0;
        }
        return Texts{hex(r, e == 2 ? bits(d.data(), 6) : bits(w.data(), 6)), hex(none, want)};
    });
}

}  // namespace
