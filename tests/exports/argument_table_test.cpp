// Every export of both libraries over a grid of argument edges (null pointers and out-parameters,
// counts and capacities from INT_MIN up, widths and columns from INT_MIN to INT_MAX) against a
// model of the argument tables in the header docs (wavecodec.h, ibmfloat.h), on fixed inputs whose
// results are known (tests/support/reference_codec.h for the codec's). Each call's result and
// everything it may touch (the output with guard bytes after it, the samples, every
// out-parameter, the writer's and reader's calls, the differencing state, the stream) is printed
// as text and compared with what the model prints for the same point.
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
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One point of a grid: an index into each argument's list of choices; choice 1 of a pointer
// argument is null.
struct Pick {
    std::vector<size_t> at;
    size_t operator[](size_t k) const { return at[k]; }
    bool null(size_t k) const { return at[k] == 1; }
};

// One export's grid: runs `body` on every combination of choices, counts the points and reports
// the first few whose call and model differ.
struct Grid {
    const char *name;
    int points = 0;
    int mismatches = 0;

    void each(std::vector<size_t> sizes, const std::function<void(const Pick &)> &body) {
        Pick p{std::vector<size_t>(sizes.size(), 0)};
        for (;;) {
            body(p);
            size_t k = 0;
            while (k < sizes.size() && ++p.at[k] == sizes[k]) {
                p.at[k++] = 0;
            }
            if (k == sizes.size()) {
                return;
            }
        }
    }

    void check(const std::string &point, const std::string &got, const std::string &want) {
        ++points;
        if (got != want && ++mismatches <= 4) {
            ADD_FAILURE() << name << "(" << point << ")\n  got:  " << got << "\n  want: " << want;
        }
    }
};

const int kCounts[] = {INT_MIN, -1, 0, 1, 4};
const int kWidths[] = {INT_MIN, -1, 0, 1, 3, INT_MAX};
// A column's value; kNoColumn stands for a null pointer.
constexpr int64_t kNoColumn = INT64_MIN;
const int64_t kColumns[] = {kNoColumn, INT_MIN, -1, 0, 1, 2, INT_MAX - 1, INT_MAX};
const size_t kCapacities[] = {0, 1, 3, 6, 64};
constexpr size_t kOut = 64;   // output bytes offered at most
constexpr size_t kGuard = 8;  // guard bytes after them
constexpr int32_t kUnset = 0x5a5a5a5a;

std::string args(std::initializer_list<std::string> values) {
    std::string s;
    for (const std::string &v : values) {
        s += (s.empty() ? "" : ", ") + v;
    }
    return s;
}

std::string ptr(const void *p) {
    return p == nullptr ? "null" : "p";
}

std::string num(int64_t v) {
    return v == kNoColumn ? "null" : std::to_string(v);
}

// An out-parameter, printed when given: a sentinel shows one left untouched.
template <typename T>
std::string param(const char *name, const T *p) {
    return p == nullptr ? "" : std::string(" ") + name + "=" + std::to_string(*p);
}

// A result and an output buffer: the text written, then the guard bytes left.
std::string shown(int result, const std::string &text) {
    return std::to_string(result) + " [" + text + std::string(kOut + kGuard - text.size(), '#') +
           "]";
}

std::string entries(const std::vector<int32_t> &v) {
    std::string s;
    for (int32_t x : v) {
        s += x == kUnset ? "_ " : std::to_string(x) + " ";
    }
    return s;
}

// ---- the encoders: samples of one to six characters, the last clamped ("-", "F", "UE", "XzzzzT")

const int32_t kSamples[4] = {1, -1, 16, 200000000};

std::string &written() {
    static std::string chars;
    return chars;
}

int collect(int c) {
    written().push_back(static_cast<char>(c));
    return c;
}

void compress_buffer_grid(Grid &g) {
    g.each({2, 5, 2}, [&](const Pick &p) {
        const int32_t *samples = p.null(0) ? nullptr : kSamples;
        const int count = kCounts[p[1]];
        const char_writer writer = p.null(2) ? nullptr : collect;
        written().clear();
        const int r = compress_6b_buffer(samples, count, writer);
        const std::string got = std::to_string(r) + " [" + written() + "]";
        std::string want = "0 []";
        if (count > 0 && (samples == nullptr || writer == nullptr)) {
            want = "-1 []";
        } else if (count > 0) {
            want = "0 [" + reference::codes(kSamples, static_cast<size_t>(count)) + "]";
        }
        g.check(args({ptr(samples), num(count), p.null(2) ? "null" : "writer"}), got, want);
    });
}

void compress_chars_grid(Grid &g) {
    g.each({2, 5, 2, 5, 2}, [&](const Pick &p) {
        const int32_t *samples = p.null(0) ? nullptr : kSamples;
        const int count = kCounts[p[1]];
        std::string out(kOut + kGuard, '#');
        char *out_p = p.null(2) ? nullptr : out.data();
        const size_t capacity = kCapacities[p[3]];
        size_t length = 777;
        size_t *length_p = p.null(4) ? nullptr : &length;
        const int r = compress_6b_chars(samples, count, out_p, capacity, length_p);
        const std::string got = std::to_string(r) + " [" + out + "]" + param("length", length_p);
        // The model: whole samples while they fit.
        int result = 0;
        std::string text;
        if (count > 0 && (samples == nullptr || out_p == nullptr)) {
            result = -1;
        }
        for (int i = 0; result == 0 && i < count; ++i) {
            const std::string c = reference::code(kSamples[i]);
            if (text.size() + c.size() > capacity) {
                result = -2;
                break;
            }
            text += c;
        }
        length = text.size();
        g.check(args({ptr(samples), num(count), ptr(out_p), num(static_cast<int64_t>(capacity)),
                      ptr(length_p)}),
                got, shown(result, text) + param("length", length_p));
    });
}

void compress_lines_grid(Grid &g) {
    g.each({2, 5, 6, 8, 2, 5, 2}, [&](const Pick &p) {
        const int32_t *samples = p.null(0) ? nullptr : kSamples;
        const int count = kCounts[p[1]];
        const int width = kWidths[p[2]];
        const int64_t column0 = kColumns[p[3]];
        int column = static_cast<int>(column0);
        int *column_p = column0 == kNoColumn ? nullptr : &column;
        std::string out(kOut + kGuard, '#');
        char *out_p = p.null(4) ? nullptr : out.data();
        const size_t capacity = kCapacities[p[5]];
        size_t length = 777;
        int clamped = 555;
        size_t *length_p = p.null(6) ? nullptr : &length;
        int *clamped_p = p.null(6) ? nullptr : &clamped;
        const int r = compress_6b_lines(samples, count, width, column_p, out_p, capacity, length_p,
                                        clamped_p);
        const std::string got = std::to_string(r) + " [" + out + "]" + param("column", column_p) +
                                param("length", length_p) + param("clamped", clamped_p);
        // The model: characters put on lines of `width`, a LF after each full line, whole
        // samples while they fit with their LFs; the last line ended when no column is kept.
        int result = 0;
        std::string text;
        int64_t at = column_p == nullptr ? 0 : column0;
        clamped = 0;
        if (width < 1 || (column_p != nullptr && (at < 0 || at >= width))) {
            result = -3;
        } else if (count > 0 && (samples == nullptr || out_p == nullptr)) {
            result = -1;
        }
        for (int i = 0; result == 0 && i < count; ++i) {
            std::string piece;
            int64_t after = at;
            for (char c : reference::code(kSamples[i])) {
                piece += c;
                if (++after == width) {
                    piece += '\n';
                    after = 0;
                }
            }
            if (text.size() + piece.size() > capacity) {
                result = -2;
                break;
            }
            text += piece;
            at = after;
            clamped += kSamples[i] > reference::kMaxMagnitude ? 1 : 0;
        }
        if (result == 0 && column_p == nullptr && at > 0) {
            if (text.size() < capacity) {
                text += '\n';
            } else {
                result = -2;
            }
        }
        // Refused arguments leave the open line as it was.
        column = result == -3 || result == -1 ? static_cast<int>(column0) : static_cast<int>(at);
        length = text.size();
        g.check(args({ptr(samples), num(count), num(width), num(column0), ptr(out_p),
                      num(static_cast<int64_t>(capacity)), ptr(length_p)}),
                got,
                shown(result, text) + param("column", column_p) + param("length", length_p) +
                    param("clamped", clamped_p));
    });
}

// ---- the decoders: "-F\nUE\n" holds 1, -1 and 16

const int kDecodeCounts[] = {INT_MIN, -1, 0, 1, 3, 4};

struct Lines {
    std::vector<std::string> lines;
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

void decomp_buffer_grid(Grid &g) {
    const std::vector<std::string> section{"DAT2\n", "-F\n", "UE\n", "CHK2 0\n"};
    g.each({6, 2, 2}, [&](const Pick &p) {
        const int count = kDecodeCounts[p[0]];
        std::vector<int32_t> got_samples(6, kUnset);
        int32_t *samples = p.null(1) ? nullptr : got_samples.data();
        const line_reader reader = p.null(2) ? nullptr : Lines::read;
        Lines source{section};
        testing::internal::CaptureStdout();
        const int r = decomp_6b_buffer(count, samples, reader, &source);
        const std::string printed = testing::internal::GetCapturedStdout();
        const std::string got = std::to_string(r) + " [" + entries(got_samples) +
                                "] lines=" + std::to_string(source.next) + " " + printed;
        // The model: the table's rows, then the plain decoder.
        std::vector<int32_t> want_samples(6, kUnset);
        Lines model{section};
        int result = -1;
        std::string message;
        if (count == 0) {
            result = 0;
            message = "decomp_6b: no action.\n";
        } else if (reader == nullptr || (count > 0 && samples == nullptr)) {
            result = -1;
        } else if (count < 0) {
            result = 0;
            model.next = 2;  // the heading and the line after it
        } else {
            result = reference::decomp_6b_buffer(count, want_samples.data(), Lines::read, &model);
            message = result >= 0 && result < count
                          ? "decomp_6b: CHK2 or CHK1 reached prematurely!\n"
                          : "";
        }
        g.check(args({num(count), ptr(samples), p.null(2) ? "null" : "reader"}), got,
                std::to_string(result) + " [" + entries(want_samples) +
                    "] lines=" + std::to_string(model.next) + " " + message);
    });
}

void decomp_chars_grid(Grid &g) {
    const char kText[] = "-F\nUE\n";
    // Per length of the text taken and positive count: the result, the samples stored and *used.
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
    g.each({2, 3, 6, 2, 2}, [&](const Pick &p) {
        const char *text = p.null(0) ? nullptr : kText;
        const size_t length = std::vector<size_t>{0, 4, 6}[p[1]];
        const int count = kDecodeCounts[p[2]];
        std::vector<int32_t> got_samples(6, kUnset);
        int32_t *samples = p.null(3) ? nullptr : got_samples.data();
        size_t used = 777;
        size_t *used_p = p.null(4) ? nullptr : &used;
        const int r = decomp_6b_chars(text, length, count, samples, used_p);
        const std::string got =
            std::to_string(r) + " [" + entries(got_samples) + "]" + param("used", used_p);
        std::vector<int32_t> want_samples(6, kUnset);
        int result = 0;
        used = 0;
        if (count > 0 && (samples == nullptr || (text == nullptr && length > 0))) {
            result = -1;
        } else if (count > 0) {
            for (const auto &d : kDecoded) {
                if (d.length == length && d.count == count) {
                    result = d.result;
                    used = d.used;
                    std::copy(decoded, decoded + d.stored, want_samples.begin());
                }
            }
        }
        g.check(
            args({ptr(text), num(static_cast<int64_t>(length)), num(count), ptr(samples),
                  ptr(used_p)}),
            got,
            std::to_string(result) + " [" + entries(want_samples) + "]" + param("used", used_p));
    });
}

// ---- second differences, restoring, checksum

const int32_t kSeries[4] = {10, 20, 40, -70};

std::string state_text(uint32_t second_last, uint32_t last) {
    return std::to_string(static_cast<int32_t>(second_last)) + "," +
           std::to_string(static_cast<int32_t>(last));
}

void diff_grid(Grid &g) {
    g.each({2, 5, 2}, [&](const Pick &p) {
        const int count = kCounts[p[1]];
        const int continued = static_cast<int>(p[2]);
        // A series under way (inputs 5, 7), then this call, then a probe of the state.
        int32_t prime[2] = {5, 7};
        diff_2nd(prime, 2, 0);
        std::vector<int32_t> v(kSeries, kSeries + 4);
        int32_t *samples = p.null(0) ? nullptr : v.data();
        diff_2nd(samples, count, continued);
        int32_t probe = 0;
        diff_2nd(&probe, 1, 1);
        const std::string got = "[" + entries(v) + "] probe=" + std::to_string(probe);
        // The model: a refused call changes no sample, and continued 0 still starts a series.
        std::vector<int32_t> w(kSeries, kSeries + 4);
        uint32_t second_last = continued != 0 ? 5 : 0, last = continued != 0 ? 7 : 0;
        reference::diff(w.data(), samples == nullptr || count <= 0 ? 0 : static_cast<size_t>(count),
                        second_last, last);
        std::vector<int32_t> model_probe{0};
        reference::diff(model_probe.data(), 1, second_last, last);
        g.check(args({ptr(samples), num(count), num(continued)}), got,
                "[" + entries(w) + "] probe=" + std::to_string(model_probe[0]));
    });
}

void diff_r_grid(Grid &g) {
    g.each({2, 2, 5, 2}, [&](const Pick &p) {
        diff_2nd_state state{5, 7};  // a series under way
        diff_2nd_state *state_p = p.null(0) ? nullptr : &state;
        std::vector<int32_t> v(kSeries, kSeries + 4);
        int32_t *samples = p.null(1) ? nullptr : v.data();
        const int count = kCounts[p[2]];
        const int continued = static_cast<int>(p[3]);
        const int r = diff_2nd_r(state_p, samples, count, continued);
        const std::string got =
            std::to_string(r) + " [" + entries(v) + "] state=" +
            state_text(static_cast<uint32_t>(state.second_last), static_cast<uint32_t>(state.last));
        std::vector<int32_t> w(kSeries, kSeries + 4);
        uint32_t second_last = 5, last = 7;
        const bool refused = state_p == nullptr || (samples == nullptr && count > 0);
        if (!refused && continued == 0) {
            second_last = last = 0;
        }
        if (!refused && count > 0) {
            reference::diff(w.data(), static_cast<size_t>(count), second_last, last);
        }
        g.check(args({ptr(state_p), ptr(samples), num(count), num(continued)}), got,
                std::to_string(refused ? -1 : 0) + " [" + entries(w) +
                    "] state=" + state_text(second_last, last));
    });
}

void restore_grid(Grid &g) {
    g.each({2, 6}, [&](const Pick &p) {
        const int count = std::vector<int>{INT_MIN, -1, 0, 1, 2, 4}[p[1]];
        std::vector<int32_t> v(kSeries, kSeries + 4), w = v;
        int32_t *samples = p.null(0) ? nullptr : v.data();
        rem_2nd_diff(samples, count);
        if (samples != nullptr && count >= 2) {
            reference::rem_2nd_diff(w.data(), count);
        }
        g.check(args({ptr(samples), num(count)}), entries(v), entries(w));
    });
}

void check_sum_grid(Grid &g) {
    const int32_t values[4] = {99999999, 5, -3, INT32_MIN};
    const int initials[] = {INT_MIN, -7, 0, 99999999, INT_MAX};
    g.each({2, 5, 5}, [&](const Pick &p) {
        const int32_t *samples = p.null(0) ? nullptr : values;
        const int count = kCounts[p[1]];
        const int initial = initials[p[2]];
        const int want = samples == nullptr || count <= 0
                             ? initial
                             : reference::check_sum(samples, count, initial);
        g.check(args({ptr(samples), num(count), num(initial)}),
                std::to_string(check_sum(samples, count, initial)), std::to_string(want));
    });
}

// ---- samples as text

void from_text_grid(Grid &g) {
    const char kText[] = "12 -3 +4";
    const size_t lengths[] = {0, 2, 5, 8};
    const int capacities[] = {INT_MIN, -1, 0, 1, 3, INT_MAX};
    g.each({2, 4, 2, 2, 6, 2}, [&](const Pick &p) {
        const char *text = p.null(0) ? nullptr : kText;
        const size_t length = lengths[p[1]];
        const int last = static_cast<int>(p[2]);
        std::vector<int32_t> got_samples(5, kUnset);
        int32_t *samples = p.null(3) ? nullptr : got_samples.data();
        const int capacity = capacities[p[4]];
        int count = 333;
        size_t used = 777;
        int *count_p = p.null(5) ? nullptr : &count;
        size_t *used_p = p.null(5) ? nullptr : &used;
        const int r = samples_from_text(text, length, last, samples, capacity, count_p, used_p);
        const std::string got = std::to_string(r) + " [" + entries(got_samples) + "]" +
                                param("count", count_p) + param("used", used_p);
        // The model: the words of text[0, length), each stored while there is room; with `last`
        // 0 a word reaching the end is left unread.
        std::vector<int32_t> want_samples(5, kUnset);
        int result = 0;
        count = 0;
        used = 0;
        if ((text == nullptr && length > 0) || capacity < 0 ||
            (samples == nullptr && capacity > 0)) {
            result = -4;
        } else {
            size_t at = 0;
            used = length;
            while (at < length) {
                const size_t start = at;
                at = std::min(std::string(kText).find(' ', at), length);
                if ((last == 0 && at == length) || count == capacity) {
                    result = last == 0 && at == length ? 0 : -2;
                    used = start;
                    break;
                }
                want_samples[static_cast<size_t>(count++)] =
                    std::stoi(std::string(kText + start, at - start));
                at += at < length ? 1 : 0;
            }
        }
        g.check(args({ptr(text), num(static_cast<int64_t>(length)), num(last), ptr(samples),
                      num(capacity), ptr(count_p)}),
                got,
                std::to_string(result) + " [" + entries(want_samples) + "]" +
                    param("count", count_p) + param("used", used_p));
    });
}

void to_text_grid(Grid &g) {
    const int32_t values[4] = {7, -12, 345, INT32_MIN};
    const size_t capacities[] = {0, 2, 5, kOut};
    g.each({2, 5, 6, 8, 2, 4, 2}, [&](const Pick &p) {
        const int32_t *samples = p.null(0) ? nullptr : values;
        const int count = kCounts[p[1]];
        const int per_line = kWidths[p[2]];
        const int64_t column0 = kColumns[p[3]];
        int column = static_cast<int>(column0);
        int *column_p = column0 == kNoColumn ? nullptr : &column;
        std::string out(kOut + kGuard, '#');
        char *out_p = p.null(4) ? nullptr : out.data();
        const size_t capacity = capacities[p[5]];
        size_t length = 777;
        size_t *length_p = p.null(6) ? nullptr : &length;
        const int r =
            samples_to_text(samples, count, per_line, column_p, out_p, capacity, length_p);
        const std::string got = std::to_string(r) + " [" + out + "]" + param("column", column_p) +
                                param("length", length_p);
        // The model: whole values with their separators while they fit.
        int result = 0;
        std::string text;
        int64_t on_line = column_p == nullptr ? 0 : column0;
        if (per_line < 1 || (column_p != nullptr && (on_line < 0 || on_line >= per_line))) {
            result = -3;
        } else if (count > 0 && (samples == nullptr || out_p == nullptr)) {
            result = -1;
        }
        int printed = 0;
        for (; result == 0 && printed < count; ++printed) {
            const bool ends =
                on_line + 1 == per_line || (column_p == nullptr && printed + 1 == count);
            std::string piece = on_line > 0 ? " " : "";
            piece += std::to_string(values[printed]);
            piece += ends ? "\n" : "";
            if (text.size() + piece.size() > capacity) {
                break;
            }
            text += piece;
            on_line = ends ? 0 : on_line + 1;
            column = static_cast<int>(on_line);
        }
        result = result == 0 ? printed : result;
        length = text.size();
        g.check(args({ptr(samples), num(count), num(per_line), num(column0), ptr(out_p),
                      num(static_cast<int64_t>(capacity)), ptr(length_p)}),
                got, shown(result, text) + param("column", column_p) + param("length", length_p));
    });
}

// ---- the header line, through streams in memory

wid2_header sample_header() {
    wid2_header h;
    std::memset(&h, 0, sizeof h);
    h.year = 2026;
    h.sample_count = 3;
    std::strcpy(h.station, "ABC");
    std::strcpy(h.data_format, "CM6");
    return h;
}

void read_header_grid(Grid &g) {
    char line[160] = {};
    FILE *out = fmemopen(line, sizeof line, "w");
    ASSERT_NE(out, nullptr);
    const wid2_header h = sample_header();
    const int n = write_header(out, &h);
    std::fclose(out);
    g.each({2, 2}, [&](const Pick &p) {
        FILE *in = fmemopen(line, std::strlen(line), "r");
        ASSERT_NE(in, nullptr);
        wid2_header got_header;
        std::memset(&got_header, 0x5a, sizeof got_header);
        const int r = read_header(p.null(0) ? nullptr : in, p.null(1) ? nullptr : &got_header);
        const std::string got = std::to_string(r) + " at=" + std::to_string(std::ftell(in)) +
                                " year=" + std::to_string(got_header.year) +
                                " count=" + std::to_string(got_header.sample_count);
        std::fclose(in);
        const bool refused = p.null(0) || p.null(1);
        g.check(args({p.null(0) ? "null" : "stream", p.null(1) ? "null" : "header"}), got,
                (refused ? "-1 at=0" : "0 at=" + std::to_string(n)) +
                    " year=" + std::to_string(refused ? kUnset : 2026) +
                    " count=" + std::to_string(refused ? kUnset : 3));
    });
}

void write_header_grid(Grid &g) {
    const wid2_header h = sample_header();
    const char *const modes[] = {"w", "null", "r"};  // writable, none, read-only
    g.each({3, 2}, [&](const Pick &p) {
        char line[160] = {};
        FILE *stream = p[0] == 1 ? nullptr : fmemopen(line, sizeof line, modes[p[0]]);
        const int r = write_header(stream, p.null(1) ? nullptr : &h);
        if (stream != nullptr) {
            std::fclose(stream);
        }
        // Null arguments give -1; an output error some negative value.
        const bool output_error = p[0] == 2 && !p.null(1);
        const std::string got = (output_error && r < 0 ? "negative" : std::to_string(r)) +
                                " written=" + std::to_string(std::strlen(line));
        std::string want = "-1 written=0";
        if (output_error) {
            want = "negative written=0";
        } else if (p[0] == 0 && !p.null(1)) {
            want = "106 written=106";
        }
        g.check(args({modes[p[0]], p.null(1) ? "null" : "header"}), got, want);
    });
}

// ---- ibmfloat: known words each way, then guard entries

template <typename T>
std::string bits_text(const std::vector<T> &v) {
    std::ostringstream s;
    s << std::hex;
    for (T x : v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof x);
        s << bits << ' ';
    }
    return s.str();
}

// The first `count` entries of `to` over `from` (when the call converts), and how many of them
// have no IBM value.
template <typename T>
std::string converted(std::vector<T> from, const std::vector<T> &to, int count, bool converts,
                      int no_value_at = -1) {
    int none = 0;
    for (int i = 0; converts && i < count; ++i) {
        from[static_cast<size_t>(i)] = to[static_cast<size_t>(i)];
        none += i == no_value_at ? 1 : 0;
    }
    return std::to_string(none) + " " + bits_text(from);
}

void ibmfloat_grid(Grid &g) {
    constexpr uint32_t kGuardWord = 0xdeadbeef;
    const std::vector<uint32_t> ibm{0x41100000, 0xC2640000, 0x80000000,
                                    0x61100000, kGuardWord, kGuardWord};
    const std::vector<uint32_t> ieee{0x3F800000, 0xC2C80000, 0x80000000,
                                     0x7F800000, kGuardWord, kGuardWord};
    const std::vector<uint32_t> ibm_of_ieee{0x41100000, 0xC2640000, 0x80000000, 0x7FFFFFFF};
    const std::vector<double> exact{1.0, -100.0, -0.0, 0x1p128};
    const std::vector<double> doubles{1.0, -100.0, 1e76, -0.0};
    const std::vector<uint32_t> ibm_of_doubles{0x41100000, 0xC2640000, 0x7FFFFFFF, 0x80000000};
    const std::vector<uint32_t> word_guards(6, kGuardWord);
    const std::vector<double> double_guards(6, -1.5);
    g.each({5, 2, 2}, [&](const Pick &p) {
        const int count = kCounts[p[0]];
        const bool null_in = p.null(1), null_out = p.null(2);
        const std::string at =
            args({num(count), null_in ? "null" : "in", null_out ? "null" : "out"});
        if (!null_out) {  // the in-place ones take one array
            std::vector<uint32_t> w = ibm;
            ibm2ieee(null_in ? nullptr : w.data(), count);
            g.check("ibm2ieee " + at, "0 " + bits_text(w), converted(ibm, ieee, count, !null_in));
            w = ieee;
            const int r = ieee2ibm(null_in ? nullptr : w.data(), count);
            g.check("ieee2ibm " + at, std::to_string(r) + " " + bits_text(w),
                    converted(ieee, ibm_of_ieee, count, !null_in, 3));
        }
        std::vector<double> d = double_guards;
        ibm2double(null_in ? nullptr : ibm.data(), null_out ? nullptr : d.data(), count);
        g.check("ibm2double " + at, "0 " + bits_text(d),
                converted(double_guards, exact, count, !null_in && !null_out));
        std::vector<uint32_t> w = word_guards;
        const int r =
            double2ibm(null_in ? nullptr : doubles.data(), null_out ? nullptr : w.data(), count);
        g.check("double2ibm " + at, std::to_string(r) + " " + bits_text(w),
                converted(word_guards, ibm_of_doubles, count, !null_in && !null_out, 2));
    });
}

TEST(ExportArguments, EveryExportOverItsGridAsTheHeaderTablesSay) {
    const struct {
        const char *name;
        void (*run)(Grid &);
    } exports[] = {
        {"compress_6b_buffer", compress_buffer_grid},
        {"compress_6b_chars", compress_chars_grid},
        {"compress_6b_lines", compress_lines_grid},
        {"decomp_6b_buffer", decomp_buffer_grid},
        {"decomp_6b_chars", decomp_chars_grid},
        {"diff_2nd", diff_grid},
        {"diff_2nd_r", diff_r_grid},
        {"rem_2nd_diff", restore_grid},
        {"check_sum", check_sum_grid},
        {"samples_from_text", from_text_grid},
        {"samples_to_text", to_text_grid},
        {"read_header", read_header_grid},
        {"write_header", write_header_grid},
        {"ibmfloat", ibmfloat_grid},
    };
    for (const auto &e : exports) {
        Grid g{e.name};
        e.run(g);
        EXPECT_GT(g.points, 0) << e.name;
        EXPECT_EQ(g.mismatches, 0) << e.name << ": " << g.mismatches << " of " << g.points
                                   << " points differ from the table";
    }
}

}  // namespace
