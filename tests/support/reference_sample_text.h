// Plain reference versions of samples_from_text and samples_to_text for the differential tests
// and the fuzz target: words found by a white-space split, checked and converted one by one,
// samples printed with snprintf; and a host's reading of a text in blocks, the unread tail of
// each call carried into the next.
#ifndef WAVELIBS_REFERENCE_SAMPLE_TEXT_H
#define WAVELIBS_REFERENCE_SAMPLE_TEXT_H

#include "wavecodec.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace reference_text {

inline bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct Parsed {
    int status = 0;                // as samples_from_text returns
    std::vector<int32_t> samples;  // the samples stored
    size_t used = 0;               // where parsing stopped, from the start of the whole text
};

// The whole text at once.
inline Parsed parse(const std::string &text) {
    Parsed r;
    size_t at = 0;
    for (;;) {
        while (at < text.size() && is_white(text[at])) {
            ++at;
        }
        if (at == text.size()) {
            break;
        }
        size_t end = at;
        while (end < text.size() && !is_white(text[end])) {
            ++end;
        }
        const std::string word = text.substr(at, end - at);
        const bool negative = word[0] == '-';
        const size_t first = negative || word[0] == '+' ? 1 : 0;
        bool integer = first < word.size();
        for (size_t k = first; k < word.size(); ++k) {
            integer = integer && word[k] >= '0' && word[k] <= '9';
        }
        if (!integer) {
            r.status = -1;
            r.used = at;
            return r;
        }
        const size_t significant = word.find_first_not_of('0', first);
        const std::string digits = significant == std::string::npos ? "0" : word.substr(significant);
        long long value = 0;
        for (char c : digits.substr(0, 11)) {
            value = value * 10 + (c - '0');
        }
        value = negative ? -value : value;
        if (digits.size() > 10 || value < INT32_MIN || value > INT32_MAX) {
            r.status = -3;
            r.used = at;
            return r;
        }
        r.samples.push_back(static_cast<int32_t>(value));
        at = end;
    }
    r.used = text.size();
    return r;
}

// samples_from_text over `text` read `block` bytes at a time, as the command line does: each
// call gets the tail the previous one left and the next block, in a buffer of exactly that
// size; the last call (an empty block read) has `last` set. Stops at the first non-zero status.
inline Parsed parse_in_blocks(const std::string &text, size_t block) {
    Parsed r;
    std::string rest;
    size_t base = 0;  // offset of `rest` in `text`
    size_t read = 0;
    for (;;) {
        const std::string chunk = text.substr(read, block);
        read += chunk.size();
        const std::string whole = rest + chunk;
        std::unique_ptr<char[]> copy(new char[whole.size() + 1]);
        whole.copy(copy.get(), whole.size());
        const int room = static_cast<int>((whole.size() + 1) / 2);
        std::vector<int32_t> out(static_cast<size_t>(room) + 1);
        int count = -1;
        size_t used = 0;
        r.status = samples_from_text(copy.get(), whole.size(), chunk.empty() ? 1 : 0, out.data(),
                                     room, &count, &used);
        r.samples.insert(r.samples.end(), out.begin(), out.begin() + count);
        r.used = base + used;
        if (r.status != 0 || chunk.empty()) {
            return r;
        }
        rest = whole.substr(used);
        base += used;
    }
}

// The samples in decimal, `per_line` to a line, a space between values, each line ended by LF.
inline std::string format(const std::vector<int32_t> &samples, int per_line) {
    std::string out;
    for (size_t i = 0; i < samples.size(); ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", samples[i]);
        out += text;
        const bool ends = (i + 1) % static_cast<size_t>(per_line) == 0 || i + 1 == samples.size();
        out += ends ? '\n' : ' ';
    }
    return out;
}

}  // namespace reference_text

#endif
