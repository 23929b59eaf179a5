// Fuzz target: libmseedio over arbitrary records and arbitrary samples.
//
// Input: a mode byte, then
//   mode bit 0 clear: bytes read as a miniSEED file, record by record (mode bit 1: headers
//     only). Checks that every result is a record length within the bytes left or a failure
//     code with a message, that no record claims more samples than the buffer holds, and that
//     the message is always terminated.
//   mode bits 0 clear and 2 set: the bytes read block by block as the host reads them
//     (mseedio_read, cut into two blocks at the second byte's offset, small run and sample
//     buffers, reading on past faults). Checks that every run lies within the buffers and the
//     block, that positions only advance, and that faults carry a message.
//   mode bit 0 set: an encoding byte, a record-length byte, then samples (4 bytes each, host
//     byte order). Checks that packing succeeds exactly when every difference fits the
//     encoding (else it names the first one that does not), that the records fill the size
//     reported, and that unpacking them gives the samples back, each record starting at its
//     first sample's time.
#include "../common/check.h"
#include "../common/input.h"
#include "mseedio.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMessage = 256;

bool terminated(const char *message) { return std::memchr(message, '\0', kMessage) != nullptr; }

void read_records(const uint8_t *data, size_t size, bool headers_only) {
    std::vector<int32_t> samples(MSEEDIO_MAX_RECORD_SAMPLES);
    size_t offset = 0;
    while (offset < size) {
        mseedio_record record;
        char message[kMessage];
        std::memset(message, 'x', sizeof message);
        const int n = mseedio_unpack(data + offset, size - offset, &record,
                                     headers_only ? nullptr : samples.data(),
                                     headers_only ? 0 : samples.size(), message, sizeof message);
        FUZZ_CHECK(terminated(message), "message not terminated (result %d)", n);
        if (n < 0) {
            FUZZ_CHECK(n >= MSEEDIO_ELIBRARY && message[0] != '\0',
                       "failure %d without a known code or a message", n);
            return;
        }
        FUZZ_CHECK(n >= 128 && static_cast<size_t>(n) <= size - offset,
                   "record length %d with %zu bytes left", n, size - offset);
        FUZZ_CHECK(record.sample_count >= 0 &&
                       record.sample_count <= MSEEDIO_MAX_RECORD_SAMPLES,
                   "sample count %d", static_cast<int>(record.sample_count));
        offset += static_cast<size_t>(n);
    }
}

// Index of the first sample whose difference from the one before lies outside the encoding's
// range, or the count.
size_t first_wide(const std::vector<int32_t> &s, int encoding) {
    const int64_t high = encoding == MSEEDIO_STEIM2 ? (int64_t{1} << 29) - 1 : INT32_MAX;
    const int64_t low = encoding == MSEEDIO_STEIM2 ? -(int64_t{1} << 29) : INT32_MIN;
    if (encoding == MSEEDIO_INT32) {
        return s.size();
    }
    for (size_t i = 1; i < s.size(); ++i) {
        const int64_t d = int64_t{s[i]} - int64_t{s[i - 1]};
        if (d < low || d > high) {
            return i;
        }
    }
    return s.size();
}

void pack_and_unpack(FuzzInput &in) {
    static const int kEncodings[] = {MSEEDIO_INT32, MSEEDIO_STEIM1, MSEEDIO_STEIM2};
    const int encoding = kEncodings[in.u8() % 3];
    const int32_t length = int32_t{1} << (8 + in.u8() % 5);  // 256 to 4096
    std::vector<int32_t> samples(in.size() / 4);
    if (!samples.empty()) {
        std::memcpy(samples.data(), in.data(), samples.size() * 4);
    }

    mseedio_stream stream;
    std::memset(&stream, 0, sizeof stream);
    std::strcpy(stream.network, "XX");
    std::strcpy(stream.station, "FUZZ");
    std::strcpy(stream.channel, "HHZ");
    stream.quality = 'D';
    stream.start = 1700000000000000;
    stream.rate = 40.0;
    stream.record_length = length;
    stream.encoding = encoding;
    char message[kMessage];
    size_t used = 0;
    std::vector<char> out(64);
    int records = mseedio_pack(&stream, samples.data(), samples.size(), 1, out.data(),
                               out.size(), &used, message, sizeof message);
    if (records == MSEEDIO_ESPACE) {
        out.resize(used);
        records = mseedio_pack(&stream, samples.data(), samples.size(), 1, out.data(),
                               out.size(), &used, message, sizeof message);
    }
    const size_t wide = first_wide(samples, encoding);
    if (wide < samples.size()) {
        FUZZ_CHECK(records == MSEEDIO_ERANGE && used == wide,
                   "difference at %zu not refused (result %d, index %zu)", wide, records, used);
        return;
    }
    FUZZ_CHECK(records >= 0, "packing failed: %d %s", records, message);
    FUZZ_CHECK(used == static_cast<size_t>(records) * static_cast<size_t>(length),
               "%d records in %zu bytes", records, used);
    std::vector<int32_t> back(MSEEDIO_MAX_RECORD_SAMPLES);
    size_t offset = 0, total = 0;
    while (offset < used) {
        mseedio_record record;
        const int n = mseedio_unpack(out.data() + offset, used - offset, &record, back.data(),
                                     back.size(), message, sizeof message);
        FUZZ_CHECK(n == length, "record at %zu: %d %s", offset, n, message);
        const size_t count = static_cast<size_t>(record.sample_count);
        FUZZ_CHECK(count > 0 && total + count <= samples.size() &&
                       std::memcmp(back.data(), samples.data() + total, count * 4) == 0,
                   "record at %zu gives other samples", offset);
        // Later records start at their first sample's time, to a tenth of a millisecond.
        const int64_t due = stream.start + static_cast<int64_t>(total) * 25000;
        FUZZ_CHECK(record.stream.start == due, "record at %zu starts at %lld, not %lld", offset,
                   static_cast<long long>(record.stream.start), static_cast<long long>(due));
        total += count;
        offset += static_cast<size_t>(n);
    }
    FUZZ_CHECK(total == samples.size(), "%zu of %zu samples came back", total, samples.size());
}

// One mseedio_read call, checked; returns its status.
int read_once(mseedio_reader &r, const std::vector<mseedio_run> &runs) {
    const size_t before = r.position;
    const int64_t records = r.record_number;
    const int status = mseedio_read(&r);
    FUZZ_CHECK(std::memchr(r.message, '\0', sizeof r.message) != nullptr, "message");
    FUZZ_CHECK(r.position >= before && r.position <= r.length, "position %zu from %zu of %zu",
               r.position, before, r.length);
    FUZZ_CHECK(r.record_number >= records, "record count went back");
    FUZZ_CHECK(r.run_count <= runs.size() && r.used <= r.capacity &&
                   r.other_used <= r.other_capacity,
               "buffers overrun");
    for (size_t i = 0; i < r.run_count; i++) {
        const mseedio_run &run = runs[i];
        FUZZ_CHECK(run.kind >= MSEEDIO_RUN_INT32 && run.kind <= MSEEDIO_RUN_EMPTY, "kind");
        FUZZ_CHECK(run.records > 0 && run.offset >= 0 &&
                       static_cast<size_t>(run.offset) < r.length,
                   "run at %lld", static_cast<long long>(run.offset));
        if (run.kind == MSEEDIO_RUN_INT32) {
            FUZZ_CHECK(run.sample_start + run.sample_count <= static_cast<int64_t>(r.used),
                       "int32 run beyond the samples used");
        }
    }
    if (status < 0 && status != MSEEDIO_ESPACE) {
        FUZZ_CHECK(status >= MSEEDIO_EVERSION && r.message[0] != '\0' && r.seeking == 1,
                   "fault %d without a message or a search", status);
    }
    return status;
}

void read_blocks(const uint8_t *data, size_t size, size_t cut) {
    std::vector<mseedio_run> runs(3);
    std::vector<int32_t> samples(MSEEDIO_MAX_RECORD_SAMPLES);
    std::vector<unsigned char> other(MSEEDIO_MAX_RECORD_LENGTH + 8);
    mseedio_reader r;
    std::memset(&r, 0, sizeof r);
    r.samples = samples.data();
    r.capacity = samples.size();
    r.other = other.data();
    r.other_capacity = other.size();
    r.runs = runs.data();
    r.max_runs = runs.size();
    r.window_start = INT64_MIN;
    r.window_end = INT64_MAX;
    // The first block ends at `cut`; what it leaves unread starts the second.
    std::vector<uint8_t> block(data, data + std::min(cut, size));
    for (int pass = 0; pass < 2; pass++) {
        r.data = block.data();
        r.length = block.size();
        r.final = pass == 1 || cut >= size;
        r.position = 0;
        for (int calls = 0; calls < 100000; calls++) {
            const int status = read_once(r, runs);
            r.run_count = r.used = r.other_used = 0;
            if (status >= 0) {
                break;
            }
        }
        if (r.final) {
            FUZZ_CHECK(r.position == r.length, "final block left at %zu of %zu", r.position,
                       r.length);
            return;
        }
        std::vector<uint8_t> next(block.begin() + static_cast<std::ptrdiff_t>(r.position),
                                  block.end());
        next.insert(next.end(), data + cut, data + size);
        block.swap(next);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    if (mode & 1) {
        pack_and_unpack(in);
    } else if (mode & 4) {
        const size_t cut = in.size() > 1 ? static_cast<size_t>(in.data()[1]) * 64 : 0;
        read_blocks(in.data(), in.size(), cut);
    } else {
        read_records(in.data(), in.size(), (mode & 2) != 0);
    }
    return 0;
}
