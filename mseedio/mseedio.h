/* mseedio: miniSEED 2 data records to and from int32 samples, with a plain C interface.
 *
 * A thin layer over libmseed (2.x): the record packing and the Steim coders are libmseed's;
 * this library adds the checks a converter needs (codes, rates, Steim difference ranges, Steim
 * integration constants, sample counts that fit the header) and reports every fault as text
 * instead of printing it. Callers see only the structures declared here, never libmseed's own.
 *
 * Times are microseconds since 1970-01-01 UTC (leap seconds not counted). Codes are
 * NUL-terminated without padding. Functions return 0 or a positive count on success and one of
 * the negative MSEEDIO_E* codes on failure, with a one-line explanation in `message` (always
 * NUL-terminated when `message_size` > 0). Functions may be called from any thread; they run
 * one at a time (libmseed's diagnostics hook and settings are process-wide). The library
 * installs its own libmseed logging hook on first use.
 */
#ifndef MSEEDIO_H
#define MSEEDIO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MSEEDIO_API __attribute__((visibility("default")))
#else
#define MSEEDIO_API
#endif

/* Sample encodings (the SEED data encoding codes). */
#define MSEEDIO_INT32 3
#define MSEEDIO_STEIM1 10
#define MSEEDIO_STEIM2 11

/* Failures. */
#define MSEEDIO_EARGUMENT -1 /* a bad argument: code too long, bad rate, record length, ... */
#define MSEEDIO_ERANGE -2    /* a sample difference that the encoding cannot hold */
#define MSEEDIO_ESPACE -3    /* the output buffer is too small (`*used` gives the size needed) */
#define MSEEDIO_ETRUNCATED -4 /* the input ends inside a record */
#define MSEEDIO_ENOTRECORD -5 /* the bytes are not a miniSEED data record */
#define MSEEDIO_ECORRUPT -6  /* a record that libmseed cannot decode, or whose samples disagree
                                with its header or integration constants */
#define MSEEDIO_ESAMPLES -7  /* samples that are not integers (floating-point or text) */
#define MSEEDIO_ELIBRARY -8  /* libmseed itself failed (memory) */
#define MSEEDIO_EVERSION -9  /* a miniSEED 3 record, which libmseed 2 cannot read */

/* Sample buffer size that always suffices for one record (the header's count is 16 bits). */
#define MSEEDIO_MAX_RECORD_SAMPLES 65535

/* The longest record libmseed reads (and the most bytes a record of unknown length may need
 * before the next record's header shows where it ends). */
#define MSEEDIO_MAX_RECORD_LENGTH 1048576

/* One channel's identity and timing, for packing and as read from a record. */
typedef struct mseedio_stream {
    char network[3];
    char station[6];
    char location[3];
    char channel[4];
    char quality;      /* 'D', 'R', 'Q' or 'M' */
    char reserved[3];
    int64_t start;     /* time of the first sample, microseconds since 1970 */
    double rate;       /* samples per second */
    int32_t record_length;
    int32_t encoding;  /* MSEEDIO_INT32, MSEEDIO_STEIM1 or MSEEDIO_STEIM2 */
} mseedio_stream;

/* What a record holds beyond its stream fields. */
typedef struct mseedio_record {
    mseedio_stream stream;   /* rate: blockette 100's when present, else the nominal one */
    double nominal_rate;     /* from the factor and multiplier of the fixed header */
    float blockette100_rate; /* blockette 100's value; 0 when the record has none */
    int32_t sample_count;    /* samples decoded into the caller's buffer */
    int32_t sequence_number;
    int32_t reserved;
} mseedio_record;

/* How a sample rate is written: `*factor` and `*multiplier` as libmseed writes them (products
 * and quotients of two 16-bit numbers: 1000/3 Hz, 40000 Hz, 1e-5 Hz, ...). Returns 1 when they
 * give back `rate` exactly, 0 when the record also needs blockette 100 (a float),
 * MSEEDIO_EARGUMENT when the rate is not finite and positive or libmseed has no factor and
 * multiplier near it. */
MSEEDIO_API int mseedio_rate_fields(double rate, int16_t *factor, int16_t *multiplier);

/* Packs `count` samples of `stream` into records of stream->record_length bytes (a power of
 * two, 128 to 65536), big-endian, numbered from `first_sequence` (1 to 999999, wrapping to 1).
 * Blockette 100 is added when the factor and multiplier cannot hold the rate exactly, and
 * blockette 1001 (microseconds) when a record's start may fall between the fixed header's
 * tenths of a millisecond: every record starts at the time of its first sample, to the
 * microsecond. No record holds more than MSEEDIO_MAX_RECORD_SAMPLES samples (the header's
 * count is 16 bits; 65536-byte Steim-2 records could take more).
 * Writes the records to `out` (`capacity` bytes) and their total size to `*used`; returns the
 * number of records. MSEEDIO_ESPACE leaves `*used` at the size the records need;
 * MSEEDIO_ERANGE names the first sample whose difference from the one before does not fit
 * the Steim encoding (30 bits for Steim-2, 32 for Steim-1) and leaves its index (from 0) in
 * `*used`. A count of 0 gives no record. */
MSEEDIO_API int mseedio_pack(const mseedio_stream *stream, const int32_t *samples, size_t count,
                             int32_t first_sequence, void *out, size_t capacity, size_t *used,
                             char *message, size_t message_size);

/* Reads the record at the start of `data` (`length` bytes available): fills `*record`, decodes
 * its samples into `samples` (room for `capacity`; MSEEDIO_MAX_RECORD_SAMPLES always suffices;
 * null with `capacity` 0 reads the header only) and returns the record's length in bytes.
 * The data are checked: the decoded count must be the header's, and a Steim record's last
 * sample must equal its reverse integration constant. `data` is the whole input: a record
 * without blockette 1000 ends where the next record's header begins, or at the end. */
MSEEDIO_API int mseedio_unpack(const void *data, size_t length, mseedio_record *record,
                               int32_t *samples, size_t capacity, char *message,
                               size_t message_size);

/* What mseedio_read found: runs of records, each a run of one channel's contiguous records
 * in the order of the input (joined as libmseed joins records into a trace: same codes,
 * rates within 0.01 %, each record starting within half a sample period of the time after
 * the last sample of the one before), or a run of records without samples. */
#define MSEEDIO_RUN_INT32 1   /* integer samples (int16, int32, Steim) in `samples` */
#define MSEEDIO_RUN_FLOAT32 2 /* float samples, 4 bytes each, in `other` */
#define MSEEDIO_RUN_FLOAT64 3 /* double samples, 8 bytes each, in `other` */
#define MSEEDIO_RUN_TEXT 4    /* text (log records), a byte a sample, in `other` */
#define MSEEDIO_RUN_EMPTY 5   /* records whose header gives no samples */

/* Flags of a run (of its first record). */
#define MSEEDIO_LITTLE_ENDIAN 1       /* the header is little-endian */
#define MSEEDIO_NO_BLOCKETTE1000 2    /* no blockette 1000: length, encoding and byte order
                                         found as libmseed finds them */
#define MSEEDIO_NO_DATA_OFFSET 4      /* the header gives neither samples nor a data offset */

typedef struct mseedio_run {
    mseedio_stream stream;  /* the first record's codes, quality, start, rate, length, encoding */
    double nominal_rate;    /* from the first record's factor and multiplier */
    float blockette100_rate; /* the first record's blockette 100 value, or 0 */
    int32_t kind;           /* MSEEDIO_RUN_* */
    int64_t end;            /* time of the last sample (of the last record) */
    int64_t offset;         /* byte of the first record in the block */
    int64_t first_record;   /* number of the first record, counted as `record_number` */
    int64_t records;
    int64_t sample_start;   /* index of the first sample in `samples` (int32) or of the
                               first byte in `other` */
    int64_t sample_count;
    int32_t flags;          /* MSEEDIO_LITTLE_ENDIAN, ... */
    int32_t reserved;
} mseedio_run;

/* The state of a read over blocks of a file. The caller sets the block, the buffers and the
 * selection; mseedio_read advances `position`, `record_number`, the `used` counts and
 * `run_count`, and reports a fault in `message`, `fault_position` and `resume`. */
typedef struct mseedio_reader {
    const void *data;        /* the block: bytes of the input from some record on */
    size_t length;
    size_t position;         /* next byte to read in the block */
    int32_t final;           /* 1: the block ends the input (a record cut short is a fault and
                                a record without blockette 1000 may end at the input's end) */
    int32_t seeking;         /* 1: first step from `position` in steps of 128 bytes to the next
                                record header, as libmseed searches past a record it cannot
                                read (set by a fault) */
    int64_t record_number;   /* records met before (read, passed over or damaged) */
    int32_t *samples;        /* integer samples of MSEEDIO_RUN_INT32 runs */
    size_t capacity;
    size_t used;
    unsigned char *other;    /* float, double and text samples, each run 8-byte aligned */
    size_t other_capacity;
    size_t other_used;
    mseedio_run *runs;
    size_t max_runs;
    size_t run_count;
    /* Selection: glob patterns (fnmatch) of the codes, null for any; records that end before
     * `window_start` or start after `window_end` are passed over without decoding. */
    const char *network;
    const char *station;
    const char *location;
    const char *channel;
    int64_t window_start;
    int64_t window_end;
    int64_t passed_over;     /* records passed over by the selection */
    char message[512];
} mseedio_reader;

/* Reads the records of the block from `position` on, decoding each (with the checks of
 * mseedio_unpack) and adding it to the last run when it continues it, else as a new run.
 * Returns the number of runs (`run_count`) when it stops at the block's end (or at a record
 * that the block holds only in part, when it is not final: the caller brings the bytes from
 * `position` on into the next block); MSEEDIO_ESPACE when the runs or a sample buffer have no
 * room for the next record (the caller takes the runs, resets the counts and calls again; room
 * for MSEEDIO_MAX_RECORD_SAMPLES samples and MSEEDIO_MAX_RECORD_LENGTH + 8 other bytes always
 * suffices); a failure code at a record that cannot be read, with `position` at it, the
 * record counted in `record_number`, the message in `message` and `seeking` set, so that a
 * caller that reads on calls again. */
MSEEDIO_API int mseedio_read(mseedio_reader *reader);

#ifdef __cplusplus
}
#endif

#endif
