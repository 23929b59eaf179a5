/* mseedio: miniSEED 2 data records to and from int32 samples, with a plain C interface.
 *
 * A thin layer over libmseed (2.x): the record packing and the Steim coders are libmseed's;
 * this library adds the checks a converter needs (codes, rates, Steim difference ranges, Steim
 * integration constants) and reports every fault as text instead of printing it. Callers see
 * only the structures declared here, never libmseed's own.
 *
 * Times are microseconds since 1970-01-01 UTC (leap seconds not counted). Codes are
 * NUL-terminated ASCII without padding. Functions return 0 or a positive count on success and
 * one of the negative MSEEDIO_E* codes on failure, with a one-line explanation in `message`
 * (always NUL-terminated when `message_size` > 0). Functions may be called from any thread;
 * they run one at a time (libmseed's diagnostics hook and settings are process-wide). The
 * library installs its own libmseed logging hook on first use.
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

/* Sample buffer size that always suffices for one record (the header's count is 16 bits). */
#define MSEEDIO_MAX_RECORD_SAMPLES 65535

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

/* How a sample rate is written: `*factor` and `*multiplier` as libmseed writes them.
 * Returns 1 when they give back `rate` exactly, 0 when the record also needs blockette 100
 * (a float), MSEEDIO_EARGUMENT when the rate is not finite, not positive or above 32767. */
MSEEDIO_API int mseedio_rate_fields(double rate, int16_t *factor, int16_t *multiplier);

/* Packs `count` samples of `stream` into records of stream->record_length bytes (a power of
 * two, 256 to 65536), big-endian, numbered from `first_sequence` (1 to 999999, wrapping to 1).
 * Blockette 100 is added when the factor and multiplier cannot hold the rate exactly. The start
 * must be a whole number of tenths of a millisecond (the fixed header's resolution); later
 * records start at the time of their first sample, rounded to a tenth of a millisecond.
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
 * sample must equal its reverse integration constant. */
MSEEDIO_API int mseedio_unpack(const void *data, size_t length, mseedio_record *record,
                               int32_t *samples, size_t capacity, char *message,
                               size_t message_size);

#ifdef __cplusplus
}
#endif

#endif
