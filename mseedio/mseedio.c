/* mseedio: packing through libmseed with the checks of a converter, and what the whole library
 * shares (see mseedio.h; a record is decoded in record.c, blocks of records read in read.c).
 * libmseed prints its diagnostics through a process-wide logging hook; this file installs the
 * hook once and collects the text of the call in progress, so that each call can return what
 * libmseed said about its own record. Calls are serialised by one mutex: the hook, the
 * collected text and libmseed's packing settings are process-wide. (Thread-local storage
 * would make the library depend on the dynamic loader's TLS functions.) */
#define _POSIX_C_SOURCE 200809L

#include "internal.h"

#include <math.h>
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

void mseedio_lock(void) { pthread_mutex_lock(&lock); }
void mseedio_unlock(void) { pthread_mutex_unlock(&lock); }

/* Appends one diagnostic; one already collected is not repeated (libmseed's decoders and their
 * callers often say the same thing twice). */
static void collect(char *text) {
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == ' ')) {
        n--;
    }
    if (n == 0) {
        return;
    }
    for (size_t at = 0; at + n <= log_length; at++) {
        if (memcmp(log_text + at, text, n) == 0 &&
            (at + n == log_length || log_text[at + n] == ';')) {
            return;
        }
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

void mseedio_log_start(void) {
    pthread_once(&log_once, install_log);
    mseedio_log_clear();
}

void mseedio_log_clear(void) {
    log_length = 0;
    log_text[0] = '\0';
}

void mseedio_fail(char *message, size_t size, const char *format, ...) {
    if (message == NULL || size == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(message, size, format, args);
    va_end(args);
    if (log_length > 0 && n >= 0 && (size_t)n < size && strstr(message, log_text) == NULL) {
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
    if (!(rate > 0.0) || !isfinite(rate)) {
        return MSEEDIO_EARGUMENT;
    }
    if (ms_genfactmult(rate, &f, &m) != 0 || f == 0 || m == 0) {
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

/* The output of msr_pack: records appended while they fit, the size needed counted always,
 * and the sample count of the last record (read back from its big-endian header). */
struct output {
    char *data;
    size_t capacity;
    size_t used;
    int overflow;
    int records;
    int last_count;
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
    out->records++;
    out->last_count = (unsigned char)record[30] << 8 | (unsigned char)record[31];
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

/* Whether every sample falls on the fixed header's tenths of a millisecond: the start does,
 * and the sample period is a whole number of them. */
static int on_header_grid(int64_t start, double rate) {
    double tenths = 1e4 / rate;
    return start % 100 == 0 && tenths == floor(tenths) && tenths < 1e15;
}

/* The time of sample `index` after `start`, to the microsecond. */
static int64_t sample_time(int64_t start, size_t index, double rate) {
    return start + (int64_t)llround((double)index / rate * 1e6);
}

/* Whether records of `length` bytes in `encoding` could take more samples than the header's
 * 16-bit count holds (libmseed fills Steim-2 frames with up to 105 samples each). */
static int count_may_overflow(int32_t length, int32_t encoding) {
    int64_t frames = (length - 64) / 64;
    int64_t most = encoding == MSEEDIO_STEIM2 ? frames * 105
                   : encoding == MSEEDIO_STEIM1 ? frames * 60
                                                : (int64_t)(length - 48) / 4;
    return most > MSEEDIO_MAX_RECORD_SAMPLES;
}

static int check_stream(const mseedio_stream *stream, int *exact, char *message,
                        size_t message_size) {
    if (!valid_code(stream->station, 5, 0) || !valid_code(stream->channel, 3, 0) ||
        !valid_code(stream->network, 2, 1) || !valid_code(stream->location, 2, 1)) {
        mseedio_fail(message, message_size,
                     "codes must be printable ASCII without blanks: station 1 to 5 characters, "
                     "channel 1 to 3, network and location 0 to 2");
        return MSEEDIO_EARGUMENT;
    }
    if (!MS_ISDATAINDICATOR(stream->quality)) {
        mseedio_fail(message, message_size, "quality must be D, R, Q or M");
        return MSEEDIO_EARGUMENT;
    }
    if (!is_power_of_two(stream->record_length) || stream->record_length < 128 ||
        stream->record_length > 65536) {
        mseedio_fail(message, message_size,
                     "record length %d is not a power of two from 128 to 65536",
                     (int)stream->record_length);
        return MSEEDIO_EARGUMENT;
    }
    *exact = rate_fields(stream->rate, NULL, NULL);
    if (*exact < 0) {
        mseedio_fail(message, message_size,
                     "sample rate %.17g has no factor and multiplier in libmseed", stream->rate);
        return MSEEDIO_EARGUMENT;
    }
    if (stream->encoding != MSEEDIO_INT32 && stream->encoding != MSEEDIO_STEIM1 &&
        stream->encoding != MSEEDIO_STEIM2) {
        mseedio_fail(message, message_size,
                     "encoding %d is not int32 (3), Steim-1 (10) or Steim-2 (11)",
                     (int)stream->encoding);
        return MSEEDIO_EARGUMENT;
    }
    return 0;
}

/* Refuses the first difference that the Steim encoding cannot hold. */
static int check_differences(const mseedio_stream *stream, const int32_t *samples, size_t count,
                             size_t *used, char *message, size_t message_size) {
    size_t wide = count;
    const char *range = NULL;
    if (stream->encoding == MSEEDIO_STEIM1) {
        wide = first_wide_difference(samples, count, INT32_MIN, INT32_MAX);
        range = "Steim-1's -2147483648..2147483647";
    } else if (stream->encoding == MSEEDIO_STEIM2) {
        wide = first_wide_difference(samples, count, -(INT64_C(1) << 29),
                                     (INT64_C(1) << 29) - 1);
        range = "Steim-2's -536870912..536870911";
    }
    if (wide < count) {
        mseedio_fail(message, message_size,
                     "sample %zu (%d) differs from the one before (%d) by %lld, outside %s",
                     wide + 1, (int)samples[wide], (int)samples[wide - 1],
                     (long long)samples[wide] - (long long)samples[wide - 1], range);
        if (used != NULL) {
            *used = wide;
        }
        return MSEEDIO_ERANGE;
    }
    return 0;
}

static int add_blockettes(MSRecord *msr, const mseedio_stream *stream, int exact) {
    if (!exact) {
        struct blkt_100_s b100;
        memset(&b100, 0, sizeof b100);
        b100.samprate = (float)stream->rate;
        if (msr_addblockette(msr, (char *)&b100, sizeof b100, 100, 0) == NULL) {
            return -1;
        }
    }
    if (!on_header_grid(stream->start, stream->rate)) {
        /* libmseed fills in each record's microseconds. */
        struct blkt_1001_s b1001;
        memset(&b1001, 0, sizeof b1001);
        if (msr_addblockette(msr, (char *)&b1001, sizeof b1001, 1001, 0) == NULL) {
            return -1;
        }
    }
    return 0;
}

static int pack(const mseedio_stream *stream, const int32_t *samples, size_t count,
                int32_t first_sequence, void *out, size_t capacity, size_t *used, char *message,
                size_t message_size) {
    if (used != NULL) {
        *used = 0;
    }
    if (stream == NULL || (samples == NULL && count > 0) || (out == NULL && capacity > 0)) {
        mseedio_fail(message, message_size, "null argument");
        return MSEEDIO_EARGUMENT;
    }
    int exact = 0;
    int status = check_stream(stream, &exact, message, message_size);
    if (status != 0) {
        return status;
    }
    if (count > (size_t)INT64_MAX / 4) {
        mseedio_fail(message, message_size, "too many samples");
        return MSEEDIO_EARGUMENT;
    }
    if (first_sequence < 1 || first_sequence > 999999) {
        mseedio_fail(message, message_size, "first sequence number %d is not 1 to 999999",
                     (int)first_sequence);
        return MSEEDIO_EARGUMENT;
    }
    status = check_differences(stream, samples, count, used, message, message_size);
    if (status != 0 || count == 0) {
        return status;
    }

    MSRecord *msr = msr_init(NULL);
    if (msr == NULL) {
        mseedio_fail(message, message_size, "out of memory");
        return MSEEDIO_ELIBRARY;
    }
    strcpy(msr->network, stream->network);
    strcpy(msr->station, stream->station);
    strcpy(msr->location, stream->location);
    strcpy(msr->channel, stream->channel);
    msr->dataquality = stream->quality;
    msr->samprate = stream->rate;
    msr->reclen = stream->record_length;
    msr->encoding = (int8_t)stream->encoding;
    msr->byteorder = 1;
    msr->sampletype = 'i';
    if (add_blockettes(msr, stream, exact) != 0) {
        msr_free(&msr);
        mseedio_fail(message, message_size, "a blockette could not be added");
        return MSEEDIO_ELIBRARY;
    }
    /* Where a record could take more samples than its header counts, the samples go to
     * libmseed in windows of at most that many; of a window packed into several records the
     * last (part filled) one is packed again with the next window. */
    const int capped = count_may_overflow(stream->record_length, stream->encoding);
    struct output output = {(char *)out, capacity, 0, 0, 0, 0};
    size_t done = 0;
    int32_t sequence = first_sequence;
    int records = 0;
    while (done < count && status == 0) {
        size_t window = count - done;
        if (capped && window > MSEEDIO_MAX_RECORD_SAMPLES) {
            window = MSEEDIO_MAX_RECORD_SAMPLES;
        }
        /* libmseed reads the samples only; the pointer is not const in its structure. */
        msr->datasamples = (void *)(uintptr_t)(samples + done);
        msr->numsamples = (int64_t)window;
        msr->starttime = (hptime_t)sample_time(stream->start, done, stream->rate);
        msr->sequence_number = sequence;
        /* Each window starts without compression history, as a first call does. */
        free(msr->ststate);
        msr->ststate = NULL;
        output.records = 0;
        int64_t packed = 0;
        int n = msr_pack(msr, append_record, &output, &packed, 1, 0);
        if (n < 0 || packed != (int64_t)window || n != output.records) {
            mseedio_fail(message, message_size, "libmseed packed %lld of %zu samples",
                         (long long)(done + (size_t)(packed > 0 ? packed : 0)), count);
            status = MSEEDIO_ELIBRARY;
            break;
        }
        if (n > 1 && done + window < count) {
            output.used -= (size_t)stream->record_length;
            window -= (size_t)output.last_count;
            n--;
            /* The record dropped may be the only one that did not fit. */
            if (output.used <= output.capacity) {
                output.overflow = 0;
            }
        }
        done += window;
        records += n;
        sequence = (int32_t)((sequence - 1 + n) % 999999 + 1);
    }
    msr->datasamples = NULL;
    msr_free(&msr);
    if (status != 0) {
        return status;
    }
    if (used != NULL) {
        *used = output.used;
    }
    if (output.overflow) {
        mseedio_fail(message, message_size, "the records need %zu bytes, the buffer holds %zu",
                     output.used, capacity);
        return MSEEDIO_ESPACE;
    }
    return records;
}

/* An empty message for calls that succeed. */
static void clear(char *message, size_t message_size) {
    if (message != NULL && message_size > 0) {
        message[0] = '\0';
    }
}

int mseedio_rate_fields(double rate, int16_t *factor, int16_t *multiplier) {
    mseedio_lock();
    mseedio_log_start();
    int result = rate_fields(rate, factor, multiplier);
    mseedio_unlock();
    return result;
}

int mseedio_pack(const mseedio_stream *stream, const int32_t *samples, size_t count,
                 int32_t first_sequence, void *out, size_t capacity, size_t *used,
                 char *message, size_t message_size) {
    clear(message, message_size);
    mseedio_lock();
    mseedio_log_start();
    int result = pack(stream, samples, count, first_sequence, out, capacity, used, message,
                      message_size);
    mseedio_unlock();
    return result;
}
