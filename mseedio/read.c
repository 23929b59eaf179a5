/* mseedio: block by block reading into runs of records (mseedio_read): each record decoded as
 * record.c decodes it, passed over when outside the selection, and added to the last run when
 * it continues it as libmseed adds a record to a trace. */
#define _POSIX_C_SOURCE 200809L

#include "internal.h"

#include <fnmatch.h>
#include <stdint.h>
#include <string.h>

/* The kind of run a record belongs to, from its header (before its data are decoded). */
static int kind_of(const MSRecord *msr) {
    if (msr->samplecnt == 0) {
        return MSEEDIO_RUN_EMPTY;
    }
    switch (msr->encoding) {
    case DE_ASCII:
        return MSEEDIO_RUN_TEXT;
    case DE_FLOAT32:
    case DE_GEOSCOPE24:
    case DE_GEOSCOPE163:
    case DE_GEOSCOPE164:
        return MSEEDIO_RUN_FLOAT32;
    case DE_FLOAT64:
        return MSEEDIO_RUN_FLOAT64;
    default:
        return MSEEDIO_RUN_INT32;
    }
}

/* The sample type libmseed gives the samples of a kind. */
static char type_of(int kind) {
    return kind == MSEEDIO_RUN_INT32     ? 'i'
           : kind == MSEEDIO_RUN_FLOAT32 ? 'f'
           : kind == MSEEDIO_RUN_FLOAT64 ? 'd'
                                         : 'a';
}

static size_t kind_width(int kind) {
    return kind == MSEEDIO_RUN_FLOAT64 ? 8 : kind == MSEEDIO_RUN_TEXT ? 1 : 4;
}

static int matches(const char *pattern, const char *code) {
    return pattern == NULL || fnmatch(pattern, code, 0) == 0;
}

static int selected(const mseedio_reader *r, MSRecord *msr) {
    if (!matches(r->network, msr->network) || !matches(r->station, msr->station) ||
        !matches(r->location, msr->location) || !matches(r->channel, msr->channel)) {
        return 0;
    }
    if (r->window_start == INT64_MIN && r->window_end == INT64_MAX) {
        return 1;
    }
    int64_t start = (int64_t)msr->starttime;
    int64_t end = msr->samplecnt > 0 ? (int64_t)msr_endtime(msr) : start;
    return end >= r->window_start && start <= r->window_end;
}

/* Whether the record continues `run`: same kind and codes, its samples next in the buffer, and
 * (for timed samples) as libmseed adds a record to the end of a trace: a rate within 0.01 % of
 * the run's, and a start within half a sample period of the time after the run's last sample. */
static int continues(const mseedio_run *run, const mseedio_reader *r, int kind,
                     const decoded *d) {
    MSRecord *msr = d->msr;
    const mseedio_stream *s = &run->stream;
    if (run->kind != kind || strcmp(s->network, msr->network) != 0 ||
        strcmp(s->station, msr->station) != 0 || strcmp(s->location, msr->location) != 0 ||
        strcmp(s->channel, msr->channel) != 0) {
        return 0;
    }
    if (kind == MSEEDIO_RUN_EMPTY) {
        return 1;
    }
    if (kind == MSEEDIO_RUN_INT32
            ? (size_t)(run->sample_start + run->sample_count) != r->used
            : (size_t)(run->sample_start + run->sample_count * (int64_t)kind_width(kind)) !=
                  r->other_used) {
        return 0;
    }
    double rate = msr->samprate;
    if (kind == MSEEDIO_RUN_TEXT && !(rate > 0.0) && !(s->rate > 0.0)) {
        return 1;
    }
    if (!(rate > 0.0) || !(s->rate > 0.0) || !MS_ISRATETOLERABLE(rate, s->rate)) {
        return 0;
    }
    hptime_t delta = (hptime_t)(HPTMODULUS / rate);
    hptime_t tolerance = (hptime_t)(0.5 * (double)delta);
    hptime_t gap = msr->starttime - run->end - delta;
    return gap <= tolerance && gap >= -tolerance;
}

static size_t align8(size_t n) { return (n + 7) & ~(size_t)7; }

/* Adds the decoded record to the last run or as a new one; its samples are copied. */
static void add_record(mseedio_reader *r, int kind, const decoded *d) {
    MSRecord *msr = d->msr;
    size_t width = kind_width(kind);
    size_t bytes = (size_t)msr->numsamples * width;
    mseedio_run *run = r->run_count > 0 ? &r->runs[r->run_count - 1] : NULL;
    if (run == NULL || !continues(run, r, kind, d)) {
        run = &r->runs[r->run_count++];
        memset(run, 0, sizeof *run);
        mseedio_fill_stream(&run->stream, d);
        run->nominal_rate = msr_nomsamprate(msr);
        run->blockette100_rate = msr->Blkt100 != NULL ? msr->Blkt100->samprate : 0.0f;
        run->kind = kind;
        run->offset = (int64_t)r->position;
        run->first_record = r->record_number;
        run->flags = d->flags;
        if (kind == MSEEDIO_RUN_INT32) {
            run->sample_start = (int64_t)r->used;
        } else if (kind != MSEEDIO_RUN_EMPTY) {
            r->other_used = align8(r->other_used);
            run->sample_start = (int64_t)r->other_used;
        }
    }
    if (kind == MSEEDIO_RUN_INT32) {
        memcpy(r->samples + r->used, msr->datasamples, bytes);
        r->used += (size_t)msr->numsamples;
    } else if (kind != MSEEDIO_RUN_EMPTY) {
        memcpy(r->other + r->other_used, msr->datasamples, bytes);
        r->other_used += bytes;
    }
    run->records++;
    run->sample_count += msr->numsamples;
    run->end = msr->numsamples > 0 ? (int64_t)msr_endtime(msr) : (int64_t)msr->starttime;
}

/* Whether the buffers have room for a record of `kind` with `count` samples (a new run
 * included when `count` is 0 or it cannot continue the last: checked as if it could not). */
static int room_for(const mseedio_reader *r, int kind, int64_t count) {
    if (r->run_count >= r->max_runs) {
        return 0;
    }
    if (kind == MSEEDIO_RUN_INT32) {
        return r->capacity - r->used >= (size_t)count;
    }
    if (kind == MSEEDIO_RUN_EMPTY) {
        return 1;
    }
    size_t start = align8(r->other_used);
    return start <= r->other_capacity &&
           r->other_capacity - start >= (size_t)count * kind_width(kind);
}

static int read_block(mseedio_reader *r, decoded *d) {
    const unsigned char *data = (const unsigned char *)r->data;
    if ((data == NULL && r->length > 0) || r->runs == NULL || r->position > r->length) {
        mseedio_fail(r->message, sizeof r->message, "null argument or position past the block");
        return MSEEDIO_EARGUMENT;
    }
    /* Past a record that could not be read, libmseed tries every 128 bytes. */
    while (r->seeking && r->position + 128 + 48 <= r->length) {
        r->position += 128;
        r->seeking = !MS_ISVALIDHEADER((const char *)data + r->position);
    }
    if (r->seeking) {
        if (r->final) {
            r->position = r->length;
            r->seeking = 0;
        }
        return (int)r->run_count;
    }
    while (r->position < r->length) {
        const unsigned char *at = data + r->position;
        size_t left = r->length - r->position;
        mseedio_log_clear();
        int n = mseedio_decode_record(at, left, r->final, HEADER_ONLY, d, r->message,
                                      sizeof r->message);
        if (n == 0) {
            break;
        }
        if (n > 0 && !selected(r, d->msr)) {
            r->passed_over++;
            r->record_number++;
            r->position += (size_t)n;
            continue;
        }
        int kind = n > 0 ? kind_of(d->msr) : 0;
        if (n > 0 && !room_for(r, kind, d->msr->samplecnt)) {
            return MSEEDIO_ESPACE;
        }
        int status = n > 0 ? mseedio_decode_data(d, r->message, sizeof r->message) : n;
        if (status == 0 && d->msr->numsamples > 0 && d->msr->sampletype != type_of(kind)) {
            mseedio_fail(r->message, sizeof r->message,
                         "libmseed decoded %s samples of type '%c'",
                         ms_encodingstr((char)d->msr->encoding), d->msr->sampletype);
            status = MSEEDIO_ECORRUPT;
        }
        r->record_number++;
        if (status < 0) {
            r->seeking = 1;
            return status;
        }
        add_record(r, kind, d);
        r->position += (size_t)n;
    }
    return (int)r->run_count;
}

int mseedio_read(mseedio_reader *reader) {
    if (reader == NULL) {
        return MSEEDIO_EARGUMENT;
    }
    reader->message[0] = '\0';
    mseedio_lock();
    mseedio_log_start();
    decoded d = {NULL, 0, 0};
    int result = read_block(reader, &d);
    msr_free(&d.msr);
    mseedio_unlock();
    return result;
}
