/* mseedio: packing and unpacking through libmseed, with the checks of a converter (see
 * mseedio.h). libmseed prints its diagnostics through a process-wide logging hook; this file
 * installs the hook once and collects the text of the call in progress, so that each call can
 * return what libmseed said about its own record. Calls are serialised by one mutex: the hook,
 * the collected text and libmseed's packing settings are process-wide. (Thread-local storage
 * would make the library depend on the dynamic loader's TLS functions.) */
#define _POSIX_C_SOURCE 200809L

#include "mseedio.h"

#include <libmseed.h>

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* libmseed's diagnostics of the call in progress (under `lock`). */
static char log_text[512];
static size_t log_length;
static pthread_once_t log_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static void collect(char *text) {
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == ' ')) {
        n--;
    }
    if (n == 0) {
        return;
    }
    if (log_length > 0 && log_length + 2 < sizeof log_text) {
        memcpy(log_text + log_length, "; ", 2);
        log_length += 2;
    }
    if (log_length + n >= sizeof log_text) {
        n = sizeof log_text - 1 - log_length;
    }
    memcpy(log_text + log_length, text, n);
    log_length += n;
    log_text[log_length] = '\0';
}

static void install_log(void) { ms_loginit(collect, NULL, collect, NULL); }

/* Called under `lock`. */
static void log_start(void) {
    pthread_once(&log_once, install_log);
    log_length = 0;
    log_text[0] = '\0';
}

/* Formats the caller's message; libmseed's own diagnostics, if any, follow in parentheses. */
__attribute__((format(printf, 3, 4))) static void fail(char *message, size_t size,
                                                       const char *format, ...) {
    if (message == NULL || size == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(message, size, format, args);
    va_end(args);
    if (log_length > 0 && n >= 0 && (size_t)n < size) {
        snprintf(message + n, size - (size_t)n, " (libmseed: %s)", log_text);
    }
}

static int valid_code(const char *code, size_t width, int may_be_empty) {
    size_t n = strnlen(code, width + 1);
    if (n > width || (n == 0 && !may_be_empty)) {
        return 0;
    }
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)code[i];
        if (c <= ' ' || c > '~') {
            return 0;
        }
    }
    return 1;
}

static int rate_fields(double rate, int16_t *factor, int16_t *multiplier) {
    int16_t f = 0, m = 0;
    if (!(rate > 0.0) || !(rate <= 32767.0)) {
        return MSEEDIO_EARGUMENT;
    }
    if (ms_genfactmult(rate, &f, &m) != 0) {
        return MSEEDIO_EARGUMENT;
    }
    if (factor != NULL) {
        *factor = f;
    }
    if (multiplier != NULL) {
        *multiplier = m;
    }
    return ms_nomsamprate(f, m) == rate ? 1 : 0;
}

/* The output of msr_pack: records appended while they fit, the size needed counted always. */
struct output {
    char *data;
    size_t capacity;
    size_t used;
    int overflow;
};

static void append_record(char *record, int length, void *handler_data) {
    struct output *out = (struct output *)handler_data;
    size_t n = (size_t)length;
    if (!out->overflow && out->used + n <= out->capacity) {
        memcpy(out->data + out->used, record, n);
    } else {
        out->overflow = 1;
    }
    out->used += n;
}

/* Index of the first sample whose difference from the previous one lies outside
 * [low, high], or `count` when every difference fits. */
static size_t first_wide_difference(const int32_t *samples, size_t count, int64_t low,
                                    int64_t high) {
    for (size_t i = 1; i < count; i++) {
        int64_t d = (int64_t)samples[i] - (int64_t)samples[i - 1];
        if (d < low || d > high) {
            return i;
        }
    }
    return count;
}

static int is_power_of_two(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

static int pack(const mseedio_stream *stream, const int32_t *samples, size_t count,
                int32_t first_sequence, void *out, size_t capacity, size_t *used, char *message,
                size_t message_size) {
    if (used != NULL) {
        *used = 0;
    }
    if (stream == NULL || (samples == NULL && count > 0) || (out == NULL && capacity > 0)) {
        fail(message, message_size, "null argument");
        return MSEEDIO_EARGUMENT;
    }
    if (!valid_code(stream->station, 5, 0) || !valid_code(stream->channel, 3, 0) ||
        !valid_code(stream->network, 2, 1) || !valid_code(stream->location, 2, 1)) {
        fail(message, message_size,
             "codes must be printable ASCII without blanks: station 1 to 5 characters, "
             "channel 1 to 3, network and location 0 to 2");
        return MSEEDIO_EARGUMENT;
    }
    if (!MS_ISDATAINDICATOR(stream->quality)) {
        fail(message, message_size, "quality must be D, R, Q or M");
        return MSEEDIO_EARGUMENT;
    }
    if (!is_power_of_two(stream->record_length) || stream->record_length < 256 ||
        stream->record_length > 65536) {
        fail(message, message_size, "record length %d is not a power of two from 256 to 65536",
             (int)stream->record_length);
        return MSEEDIO_EARGUMENT;
    }
    int exact = rate_fields(stream->rate, NULL, NULL);
    if (exact < 0) {
        fail(message, message_size, "sample rate %.17g is not above 0 and at most 32767",
             stream->rate);
        return MSEEDIO_EARGUMENT;
    }
    if (stream->start % 100 != 0) {
        /* The fixed header holds tenths of milliseconds; libmseed would round silently. */
        fail(message, message_size,
             "start time %lld us is not a whole number of tenths of a millisecond",
             (long long)stream->start);
        return MSEEDIO_EARGUMENT;
    }
    if (count > (size_t)INT64_MAX / 4) {
        fail(message, message_size, "too many samples");
        return MSEEDIO_EARGUMENT;
    }
    if (first_sequence < 1 || first_sequence > 999999) {
        fail(message, message_size, "first sequence number %d is not 1 to 999999",
             (int)first_sequence);
        return MSEEDIO_EARGUMENT;
    }
    size_t wide = count;
    const char *range = NULL;
    switch (stream->encoding) {
    case MSEEDIO_INT32:
        break;
    case MSEEDIO_STEIM1:
        wide = first_wide_difference(samples, count, INT32_MIN, INT32_MAX);
        range = "Steim-1's -2147483648..2147483647";
        break;
    case MSEEDIO_STEIM2:
        wide = first_wide_difference(samples, count, -(INT64_C(1) << 29),
                                     (INT64_C(1) << 29) - 1);
        range = "Steim-2's -536870912..536870911";
        break;
    default:
        fail(message, message_size, "encoding %d is not int32 (3), Steim-1 (10) or Steim-2 (11)",
             (int)stream->encoding);
        return MSEEDIO_EARGUMENT;
    }
    if (wide < count) {
        fail(message, message_size,
             "sample %zu (%d) differs from the one before (%d) by %lld, outside %s", wide + 1,
             (int)samples[wide], (int)samples[wide - 1],
             (long long)samples[wide] - (long long)samples[wide - 1], range);
        if (used != NULL) {
            *used = wide;
        }
        return MSEEDIO_ERANGE;
    }
    if (count == 0) {
        return 0;
    }

    MSRecord *msr = msr_init(NULL);
    if (msr == NULL) {
        fail(message, message_size, "out of memory");
        return MSEEDIO_ELIBRARY;
    }
    strcpy(msr->network, stream->network);
    strcpy(msr->station, stream->station);
    strcpy(msr->location, stream->location);
    strcpy(msr->channel, stream->channel);
    msr->dataquality = stream->quality;
    msr->starttime = (hptime_t)stream->start;
    msr->samprate = stream->rate;
    msr->reclen = stream->record_length;
    msr->encoding = (int8_t)stream->encoding;
    msr->byteorder = 1;
    msr->sequence_number = first_sequence;
    /* libmseed reads the samples only; the pointer is not const in its structure. */
    msr->datasamples = (void *)(uintptr_t)samples;
    msr->numsamples = (int64_t)count;
    msr->sampletype = 'i';
    int status = 0;
    if (!exact) {
        struct blkt_100_s b100;
        memset(&b100, 0, sizeof b100);
        b100.samprate = (float)stream->rate;
        if (msr_addblockette(msr, (char *)&b100, sizeof b100, 100, 0) == NULL) {
            status = MSEEDIO_ELIBRARY;
            fail(message, message_size, "blockette 100 could not be added");
        }
    }
    struct output output = {(char *)out, capacity, 0, 0};
    int64_t packed = 0;
    int records = status == 0 ? msr_pack(msr, append_record, &output, &packed, 1, 0) : -1;
    msr->datasamples = NULL;
    msr_free(&msr);
    if (status != 0) {
        return status;
    }
    if (records < 0 || packed != (int64_t)count) {
        fail(message, message_size, "libmseed packed %lld of %zu samples", (long long)packed,
             count);
        return MSEEDIO_ELIBRARY;
    }
    if (used != NULL) {
        *used = output.used;
    }
    if (output.overflow) {
        fail(message, message_size, "the records need %zu bytes, the buffer holds %zu",
             output.used, capacity);
        return MSEEDIO_ESPACE;
    }
    return records;
}

static uint32_t load32(const unsigned char *p, int big_endian) {
    return big_endian ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]
                      : (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

static void copy_code(char *to, size_t size, const char *from) {
    size_t n = strnlen(from, size - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}

/* Bytes per sample of the fixed-width encodings; 0 for the others (Steim: the decoders stop
 * at the end of the frames). */
static int sample_width(int encoding) {
    switch (encoding) {
    case DE_ASCII:
        return 1;
    case DE_INT16:
        return 2;
    case DE_INT32:
    case DE_FLOAT32:
        return 4;
    case DE_FLOAT64:
        return 8;
    default:
        return 0;
    }
}

/* Checks that the header's data offset lies inside the record, that a fixed-width encoding's
 * samples fit after it, and that a record without samples has no data; 0 or
 * MSEEDIO_ECORRUPT with the message written. */
static int check_layout(MSRecord *msr, const char *record, int reclen, char *message,
                        size_t message_size) {
    int offset = (int)msr->fsdh->data_offset;
    if (msr->samplecnt == 0 && offset == 0) {
        return 0;
    }
    if (offset < 48 || offset >= reclen) {
        fail(message, message_size, "data offset %d lies outside the record of %d bytes",
             offset, reclen);
        return MSEEDIO_ECORRUPT;
    }
    if (msr->samplecnt == 0) {
        /* A record without samples has an empty data area; data there mean a lost count. */
        for (int i = offset; i < reclen; i++) {
            if (record[i] != 0) {
                fail(message, message_size,
                     "the header gives no samples, but the data area holds data (byte %d)",
                     i);
                return MSEEDIO_ECORRUPT;
            }
        }
        return 0;
    }
    int64_t width = sample_width(msr->encoding);
    if (width > 0 && msr->samplecnt * width > (int64_t)(reclen - offset)) {
        fail(message, message_size,
             "%lld samples of %d bytes do not fit the %d bytes after the data offset",
             (long long)msr->samplecnt, (int)width, reclen - offset);
        return MSEEDIO_ECORRUPT;
    }
    return 0;
}

/* Checks the decoded samples of `msr` against its header and, for Steim, its reverse
 * integration constant; 0 or MSEEDIO_ECORRUPT with the message written. */
static int check_samples(MSRecord *msr, const unsigned char *record, int reclen, char *message,
                         size_t message_size) {
    if (msr->numsamples != msr->samplecnt) {
        fail(message, message_size, "%lld samples decoded, the header gives %lld",
             (long long)msr->numsamples, (long long)msr->samplecnt);
        return MSEEDIO_ECORRUPT;
    }
    if ((msr->encoding != DE_STEIM1 && msr->encoding != DE_STEIM2) || msr->numsamples == 0) {
        return 0;
    }
    int offset = (int)msr->fsdh->data_offset;
    if (offset < 48 || offset + 12 > reclen) {
        fail(message, message_size, "data offset %d lies outside the record of %d bytes",
             offset, reclen);
        return MSEEDIO_ECORRUPT;
    }
    int32_t last = ((const int32_t *)msr->datasamples)[msr->numsamples - 1];
    int32_t reverse = (int32_t)load32(record + offset + 8, msr->byteorder != 0);
    if (last != reverse) {
        fail(message, message_size,
             "Steim data disagree with their integration constant: the last sample decodes "
             "as %d, the frame gives %d",
             (int)last, (int)reverse);
        return MSEEDIO_ECORRUPT;
    }
    return 0;
}

static unsigned load16(const unsigned char *p, int big_endian) {
    return big_endian ? (unsigned)p[0] << 8 | p[1] : (unsigned)p[1] << 8 | p[0];
}

/* Offset of blockette 1000 in a record's first `size` bytes, or -1. The header's byte order is
 * the one in which its year and day are plausible. */
static int find_blockette1000(const unsigned char *record, int size) {
    int big = 1;
    if (!MS_ISVALIDYEARDAY(load16(record + 20, 1), load16(record + 22, 1))) {
        big = 0;
    }
    int at = (int)load16(record + 46, big);
    for (int hops = 0; hops < 16 && at >= 48 && at + 8 <= size; hops++) {
        if (load16(record + at, big) == 1000) {
            return at;
        }
        int next = (int)load16(record + at + 2, big);
        if (next <= at) {
            return -1;
        }
        at = next;
    }
    return -1;
}

/* Whether the record at `record` decodes completely, integration constant included, from
 * its first `size` bytes: its blockette 1000 made to say `size` in a copy. */
static int data_fit(const unsigned char *record, int size) {
    int at = find_blockette1000(record, size);
    if (at < 0) {
        return 0;
    }
    char *copy = (char *)malloc((size_t)size);
    if (copy == NULL) {
        return 0;
    }
    memcpy(copy, record, (size_t)size);
    int exponent = 0;
    while ((1 << exponent) < size) {
        exponent++;
    }
    copy[at + 6] = (char)exponent;
    char scratch[64];
    MSRecord *msr = NULL;
    int fits = msr_unpack(copy, size, &msr, 0, 0) == MS_NOERROR &&
               check_layout(msr, copy, size, scratch, sizeof scratch) == 0 &&
               msr_unpack(copy, size, &msr, 1, 0) == MS_NOERROR &&
               check_samples(msr, (const unsigned char *)copy, size, scratch, sizeof scratch) ==
                   0;
    msr_free(&msr);
    free(copy);
    /* What libmseed said about the trial is not about the record. */
    log_length = 0;
    log_text[0] = '\0';
    return fits;
}

static int unpack(const void *data, size_t length, mseedio_record *record, int32_t *samples,
                  size_t capacity, char *message, size_t message_size) {
    if (data == NULL || record == NULL || (samples == NULL && capacity > 0)) {
        fail(message, message_size, "null argument");
        return MSEEDIO_EARGUMENT;
    }
    memset(record, 0, sizeof *record);
    if (length < 48) {
        fail(message, message_size, "%zu bytes are left, less than a record header", length);
        return MSEEDIO_ETRUNCATED;
    }
    int detect_length = length > (size_t)1 << 30 ? 1 << 30 : (int)length;
    int reclen = ms_detect((const char *)data, detect_length);
    if (reclen < 0) {
        fail(message, message_size, "not a miniSEED data record");
        return MSEEDIO_ENOTRECORD;
    }
    if (reclen == 0) {
        fail(message, message_size,
             "the record length cannot be told: no blockette 1000 and no record after it");
        return MSEEDIO_ENOTRECORD;
    }
    /* A record that claims more bytes than it has: the next record's header lies inside it,
     * at the true record length (a power of two), and the record's own data fit before it.
     * Without this the records it swallows would be lost. */
    for (int inside = 128; inside < reclen; inside *= 2) {
        if ((size_t)inside + 48 <= length && MS_ISVALIDHEADER((const char *)data + inside) &&
            data_fit((const unsigned char *)data, inside)) {
            fail(message, message_size,
                 "a record header at byte %d inside the record of %d bytes, whose data end "
                 "before it: the record length is wrong",
                 inside, reclen);
            return MSEEDIO_ECORRUPT;
        }
    }
    if ((size_t)reclen > length) {
        fail(message, message_size, "the record of %d bytes is cut short: %zu bytes are left",
             reclen, length);
        return MSEEDIO_ETRUNCATED;
    }
    /* libmseed's unpacking takes a writable record: it works on a copy. */
    char *copy = (char *)malloc((size_t)reclen);
    if (copy == NULL) {
        fail(message, message_size, "out of memory");
        return MSEEDIO_ELIBRARY;
    }
    memcpy(copy, data, (size_t)reclen);
    MSRecord *msr = NULL;
    /* The header first: its data offset and sample count must fit the record before any
     * decoder reads the data (a fixed-width decoder reads as many samples as the header
     * gives). */
    int status = msr_unpack(copy, reclen, &msr, 0, 0);
    if (status == MS_NOERROR) {
        status = check_layout(msr, copy, reclen, message, message_size);
    }
    if (status == MS_NOERROR && capacity > 0) {
        status = msr_unpack(copy, reclen, &msr, 1, 0);
    }
    if (status == MSEEDIO_ECORRUPT) {
        /* message written by check_layout */
    } else if (status != MS_NOERROR) {
        fail(message, message_size, "libmseed cannot decode it: %s", ms_errorstr(status));
        status = MSEEDIO_ECORRUPT;
    } else if (capacity > 0 && msr->numsamples > 0 && msr->sampletype != 'i') {
        fail(message, message_size, "samples encoded as %s are not integers",
             ms_encodingstr((char)msr->encoding));
        status = MSEEDIO_ESAMPLES;
    } else if (capacity > 0 && (size_t)msr->numsamples > capacity) {
        fail(message, message_size, "%lld samples, room for %zu", (long long)msr->numsamples,
             capacity);
        status = MSEEDIO_ESPACE;
    } else if (capacity > 0) {
        status = check_samples(msr, (const unsigned char *)copy, reclen, message, message_size);
    }
    if (status == 0) {
        mseedio_stream *s = &record->stream;
        copy_code(s->network, sizeof s->network, msr->network);
        copy_code(s->station, sizeof s->station, msr->station);
        copy_code(s->location, sizeof s->location, msr->location);
        copy_code(s->channel, sizeof s->channel, msr->channel);
        s->quality = msr->dataquality;
        s->start = (int64_t)msr->starttime;
        s->rate = msr_samprate(msr);
        s->record_length = reclen;
        s->encoding = msr->encoding;
        record->nominal_rate = msr_nomsamprate(msr);
        record->blockette100_rate = msr->Blkt100 != NULL ? msr->Blkt100->samprate : 0.0f;
        record->sequence_number = msr->sequence_number;
        if (capacity > 0) {
            record->sample_count = (int32_t)msr->numsamples;
            if (msr->numsamples > 0) {
                memcpy(samples, msr->datasamples, (size_t)msr->numsamples * sizeof(int32_t));
            }
        } else {
            record->sample_count = (int32_t)msr->samplecnt;
        }
        status = reclen;
    }
    msr_free(&msr);
    free(copy);
    return status;
}

/* An empty message for calls that succeed. */
static void clear(char *message, size_t message_size) {
    if (message != NULL && message_size > 0) {
        message[0] = '\0';
    }
}

int mseedio_rate_fields(double rate, int16_t *factor, int16_t *multiplier) {
    pthread_mutex_lock(&lock);
    log_start();
    int result = rate_fields(rate, factor, multiplier);
    pthread_mutex_unlock(&lock);
    return result;
}

int mseedio_pack(const mseedio_stream *stream, const int32_t *samples, size_t count,
                 int32_t first_sequence, void *out, size_t capacity, size_t *used,
                 char *message, size_t message_size) {
    clear(message, message_size);
    pthread_mutex_lock(&lock);
    log_start();
    int result = pack(stream, samples, count, first_sequence, out, capacity, used, message,
                      message_size);
    pthread_mutex_unlock(&lock);
    return result;
}

int mseedio_unpack(const void *data, size_t length, mseedio_record *record, int32_t *samples,
                   size_t capacity, char *message, size_t message_size) {
    clear(message, message_size);
    pthread_mutex_lock(&lock);
    log_start();
    int result = unpack(data, length, record, samples, capacity, message, message_size);
    pthread_mutex_unlock(&lock);
    return result;
}
