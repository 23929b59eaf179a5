/* mseedio: one record decoded through libmseed (mseedio_unpack, and the records of
 * mseedio_read in read.c), with a converter's checks: the record length against the headers
 * inside the record, the data offset and count against the record, the decoded count against
 * the header and the last sample against the reverse integration constant. Records are found
 * as libmseed finds them: blockette 1000, else the next record header at a multiple of 128
 * bytes, else the end of the input. */
#define _POSIX_C_SOURCE 200809L

#include "internal.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* A copy of the record being read, for the trials of a record length and for encodings whose
 * decoders may write into the record; under the library's lock. */
static char *scratch;
static size_t scratch_size;

static unsigned load16(const unsigned char *p, int big_endian) {
    return big_endian ? (unsigned)p[0] << 8 | p[1] : (unsigned)p[1] << 8 | p[0];
}

static uint32_t load32(const unsigned char *p, int big_endian) {
    return big_endian ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]
                      : (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

/* Whether the fixed header is big-endian: libmseed takes the order in which the year and day
 * are plausible, the host's when both are. */
static int header_big_endian(const unsigned char *record) {
    int host_big = ms_bigendianhost();
    return MS_ISVALIDYEARDAY(load16(record + 20, host_big), load16(record + 22, host_big))
               ? host_big
               : !host_big;
}

/* Offset of blockette 1000 in a record's first `size` bytes, or -1. */
static int find_blockette1000(const unsigned char *record, size_t size) {
    int big = header_big_endian(record);
    size_t at = load16(record + 46, big);
    for (int hops = 0; hops < 64 && at >= 48 && at + 8 <= size; hops++) {
        if (load16(record + at, big) == 1000) {
            return (int)at;
        }
        size_t next = load16(record + at + 2, big);
        if (next <= at) {
            return -1;
        }
        at = next;
    }
    return -1;
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
static int check_layout(decoded *d, const char *record, char *message, size_t message_size) {
    MSRecord *msr = d->msr;
    int reclen = d->length;
    int offset = (int)msr->fsdh->data_offset;
    if (msr->samplecnt == 0 && offset == 0) {
        d->flags |= MSEEDIO_NO_DATA_OFFSET;
        return 0;
    }
    if (offset < 48 || offset >= reclen) {
        mseedio_fail(message, message_size, "data offset %d lies outside the record of %d bytes",
                     offset, reclen);
        return MSEEDIO_ECORRUPT;
    }
    if (msr->samplecnt == 0) {
        /* A record without samples has an empty data area; data there mean a lost count. */
        for (int i = offset; i < reclen; i++) {
            if (record[i] != 0) {
                mseedio_fail(message, message_size,
                             "the header gives no samples, but the data area holds data "
                             "(byte %d)",
                             i);
                return MSEEDIO_ECORRUPT;
            }
        }
        return 0;
    }
    int64_t width = sample_width(msr->encoding);
    if (width > 0 && msr->samplecnt * width > (int64_t)(reclen - offset)) {
        mseedio_fail(message, message_size,
                     "%lld samples of %d bytes do not fit the %d bytes after the data offset",
                     (long long)msr->samplecnt, (int)width, reclen - offset);
        return MSEEDIO_ECORRUPT;
    }
    return 0;
}

/* The data byte order libmseed decodes with: blockette 1000's, else the header's. */
static int data_big_endian(const decoded *d) {
    if (d->msr->Blkt1000 != NULL) {
        return d->msr->byteorder != 0;
    }
    return !(d->flags & MSEEDIO_LITTLE_ENDIAN);
}

/* Checks the decoded samples against the header and, for Steim, the reverse integration
 * constant; 0 or MSEEDIO_ECORRUPT with the message written. */
static int check_samples(const decoded *d, char *message, size_t message_size) {
    MSRecord *msr = d->msr;
    if (msr->numsamples != msr->samplecnt) {
        mseedio_fail(message, message_size, "%lld samples decoded, the header gives %lld",
                     (long long)msr->numsamples, (long long)msr->samplecnt);
        return MSEEDIO_ECORRUPT;
    }
    if ((msr->encoding != DE_STEIM1 && msr->encoding != DE_STEIM2) || msr->numsamples == 0) {
        return 0;
    }
    int offset = (int)msr->fsdh->data_offset;
    if (offset < 48 || offset + 12 > d->length) {
        mseedio_fail(message, message_size, "data offset %d lies outside the record of %d bytes",
                     offset, d->length);
        return MSEEDIO_ECORRUPT;
    }
    int32_t last = ((const int32_t *)msr->datasamples)[msr->numsamples - 1];
    int32_t reverse = (int32_t)load32((const unsigned char *)msr->record + offset + 8,
                                      data_big_endian(d));
    if (last != reverse) {
        mseedio_fail(message, message_size,
                     "Steim data disagree with their integration constant: the last sample "
                     "decodes as %d, the frame gives %d",
                     (int)last, (int)reverse);
        return MSEEDIO_ECORRUPT;
    }
    return 0;
}

int mseedio_decode_data(decoded *d, char *message, size_t message_size) {
    MSRecord *msr = d->msr;
    msr->numsamples = 0;
    if (msr->samplecnt == 0) {
        return 0;
    }
    int host_big = ms_bigendianhost();
    int status = msr_unpack_data(msr, data_big_endian(d) != host_big, 0);
    if (status < 0) {
        mseedio_fail(message, message_size, "libmseed cannot decode it: %s",
                     ms_errorstr(status));
        return MSEEDIO_ECORRUPT;
    }
    msr->numsamples = status;
    return check_samples(d, message, message_size);
}

static int copy_record(const unsigned char *data, size_t length) {
    if (scratch_size < length) {
        char *bigger = (char *)realloc(scratch, length);
        if (bigger == NULL) {
            return -1;
        }
        scratch = bigger;
        scratch_size = length;
    }
    memcpy(scratch, data, length);
    return 0;
}

/* Whether libmseed decodes the record without writing into it: its blockette 1000 names one of
 * the usual encodings (without blockette 1000 libmseed takes Steim-1). */
static int read_only_decoding(const unsigned char *record, size_t length) {
    int at = find_blockette1000(record, length);
    if (at < 0) {
        return 1;
    }
    switch (record[at + 4]) {
    case DE_ASCII:
    case DE_INT16:
    case DE_INT32:
    case DE_FLOAT32:
    case DE_FLOAT64:
    case DE_STEIM1:
    case DE_STEIM2:
        return 1;
    default:
        return 0;
    }
}

/* Whether the record at `record` decodes completely, integration constant included, from
 * its first `size` bytes: its blockette 1000 made to say `size` in a copy. */
static int data_fit(const unsigned char *record, int size) {
    int at = find_blockette1000(record, (size_t)size);
    if (at < 0 || copy_record(record, (size_t)size) != 0) {
        return 0;
    }
    int exponent = 0;
    while ((1 << exponent) < size) {
        exponent++;
    }
    scratch[at + 6] = (char)exponent;
    char unused[64];
    decoded trial = {NULL, size, header_big_endian(record) ? 0 : MSEEDIO_LITTLE_ENDIAN};
    int fits = msr_unpack(scratch, size, &trial.msr, 0, 0) == MS_NOERROR &&
               check_layout(&trial, scratch, unused, sizeof unused) == 0 &&
               mseedio_decode_data(&trial, unused, sizeof unused) == 0;
    msr_free(&trial.msr);
    /* What libmseed said about the trial is not about the record. */
    mseedio_log_clear();
    return fits;
}

/* The record's length: blockette 1000's, else the next record header's offset (ms_detect),
 * else the rest of a final input when a power of two. Returns the length, 0 for more bytes, or
 * a failure code. */
static int record_length(const unsigned char *data, size_t length, int final, int *flags,
                         char *message, size_t message_size) {
    int at = find_blockette1000(data, length);
    if (at >= 0) {
        int exponent = data[at + 6];
        if (exponent < 7 || exponent > 20) {
            mseedio_fail(message, message_size,
                         "blockette 1000 gives a record length of 2^%d bytes, outside 128 "
                         "to 1048576",
                         exponent);
            return MSEEDIO_ECORRUPT;
        }
        return 1 << exponent;
    }
    *flags |= MSEEDIO_NO_BLOCKETTE1000;
    /* ms_detect reads the four bytes of a blockette header at an offset up to its length. */
    size_t detect = length > ((size_t)1 << 30) ? (size_t)1 << 30 : length;
    int reclen = detect > 52 ? ms_detect((const char *)data, (int)(detect - 4)) : 0;
    if (reclen < 0) {
        mseedio_fail(message, message_size, "the blockette chain is broken");
        return MSEEDIO_ECORRUPT;
    }
    if (reclen > 0) {
        return reclen;
    }
    if (!final && length < (size_t)MSEEDIO_MAX_RECORD_LENGTH + 128) {
        return 0;
    }
    if (length >= 128 && length <= MSEEDIO_MAX_RECORD_LENGTH && (length & (length - 1)) == 0) {
        return (int)length;
    }
    mseedio_fail(message, message_size,
                 "the record length cannot be told: no blockette 1000, no record header after "
                 "it, and the %zu bytes left are not a power of two from 128 to 1048576",
                 length);
    return MSEEDIO_ECORRUPT;
}

int mseedio_decode_record(const unsigned char *data, size_t length, int final, int want,
                          decoded *out, char *message, size_t message_size) {
    out->flags = 0;
    out->length = 0;
    if (length < 48) {
        if (!final) {
            return 0;
        }
        mseedio_fail(message, message_size, "%zu bytes are left, less than a record header",
                     length);
        return MSEEDIO_ETRUNCATED;
    }
    if (data[0] == 'M' && data[1] == 'S' && data[2] == 3) {
        mseedio_fail(message, message_size,
                     "a miniSEED 3 record (it begins 'MS' and format version 3); libmseed 2 "
                     "reads miniSEED 2 only");
        return MSEEDIO_EVERSION;
    }
    if (!MS_ISVALIDHEADER((const char *)data)) {
        mseedio_fail(message, message_size, "not a miniSEED data record");
        return MSEEDIO_ENOTRECORD;
    }
    if (!header_big_endian(data)) {
        out->flags |= MSEEDIO_LITTLE_ENDIAN;
    }
    int reclen = record_length(data, length, final, &out->flags, message, message_size);
    if (reclen <= 0) {
        return reclen;
    }
    if ((size_t)reclen > length && !final) {
        return 0;
    }
    /* A record that claims more bytes than it has: the next record's header lies inside it,
     * at the true record length (a power of two), and the record's own data fit before it.
     * Without this the records it swallows would be lost. */
    for (int inside = 128; inside < reclen && !(out->flags & MSEEDIO_NO_BLOCKETTE1000);
         inside *= 2) {
        if ((size_t)inside + 48 <= length && MS_ISVALIDHEADER((const char *)data + inside) &&
            data_fit(data, inside)) {
            mseedio_fail(message, message_size,
                         "a record header at byte %d inside the record of %d bytes, whose data "
                         "end before it: the record length is wrong",
                         inside, reclen);
            return MSEEDIO_ECORRUPT;
        }
    }
    if ((size_t)reclen > length) {
        mseedio_fail(message, message_size,
                     "the record of %d bytes is cut short: %zu bytes are left", reclen, length);
        return MSEEDIO_ETRUNCATED;
    }
    /* libmseed's unpacking takes a writable record. Its decoders of the usual encodings only
     * read it (libmseed 2.19); the records of others are decoded from a copy. */
    char *record = (char *)(uintptr_t)data;
    if (!read_only_decoding(data, (size_t)reclen)) {
        if (copy_record(data, (size_t)reclen) != 0) {
            mseedio_fail(message, message_size, "out of memory");
            return MSEEDIO_ELIBRARY;
        }
        record = scratch;
    }
    out->length = reclen;
    /* The header first: its data offset and sample count must fit the record before any
     * decoder reads the data (a fixed-width decoder reads as many samples as the header
     * gives). */
    int status = msr_unpack(record, reclen, &out->msr, 0, 0);
    if (status != MS_NOERROR) {
        mseedio_fail(message, message_size, "libmseed cannot decode it: %s",
                     ms_errorstr(status));
        return MSEEDIO_ECORRUPT;
    }
    status = check_layout(out, record, message, message_size);
    if (status == 0 && want == WITH_DATA) {
        status = mseedio_decode_data(out, message, message_size);
    }
    return status < 0 ? status : reclen;
}

static void copy_code(char *to, size_t size, const char *from) {
    size_t n = strnlen(from, size - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}

void mseedio_fill_stream(mseedio_stream *s, const decoded *d) {
    MSRecord *msr = d->msr;
    copy_code(s->network, sizeof s->network, msr->network);
    copy_code(s->station, sizeof s->station, msr->station);
    copy_code(s->location, sizeof s->location, msr->location);
    copy_code(s->channel, sizeof s->channel, msr->channel);
    s->quality = msr->dataquality;
    s->start = (int64_t)msr->starttime;
    s->rate = msr_samprate(msr);
    s->record_length = d->length;
    s->encoding = msr->encoding;
}

static int unpack(const void *data, size_t length, mseedio_record *record, int32_t *samples,
                  size_t capacity, char *message, size_t message_size) {
    if (data == NULL || record == NULL || (samples == NULL && capacity > 0)) {
        mseedio_fail(message, message_size, "null argument");
        return MSEEDIO_EARGUMENT;
    }
    memset(record, 0, sizeof *record);
    decoded d = {NULL, 0, 0};
    int status = mseedio_decode_record((const unsigned char *)data, length, 1,
                                       capacity > 0 ? WITH_DATA : HEADER_ONLY, &d, message,
                                       message_size);
    if (status > 0 && capacity > 0) {
        MSRecord *msr = d.msr;
        if (msr->numsamples > 0 && msr->sampletype != 'i') {
            mseedio_fail(message, message_size, "samples encoded as %s are not integers",
                         ms_encodingstr((char)msr->encoding));
            status = MSEEDIO_ESAMPLES;
        } else if ((size_t)msr->numsamples > capacity) {
            mseedio_fail(message, message_size, "%lld samples, room for %zu",
                         (long long)msr->numsamples, capacity);
            status = MSEEDIO_ESPACE;
        }
    }
    if (status > 0) {
        MSRecord *msr = d.msr;
        mseedio_fill_stream(&record->stream, &d);
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
    }
    msr_free(&d.msr);
    return status;
}

int mseedio_unpack(const void *data, size_t length, mseedio_record *record, int32_t *samples,
                   size_t capacity, char *message, size_t message_size) {
    if (message != NULL && message_size > 0) {
        message[0] = '\0';
    }
    mseedio_lock();
    mseedio_log_start();
    int result = unpack(data, length, record, samples, capacity, message, message_size);
    mseedio_unlock();
    return result;
}
