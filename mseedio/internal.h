/* What the parts of libmseedio share (never installed): the collected libmseed diagnostics of
 * the call in progress, the failure message, and the decoding of one record. */
#ifndef MSEEDIO_INTERNAL_H
#define MSEEDIO_INTERNAL_H

#include "mseedio.h"

#include <libmseed.h>

#include <stddef.h>
#include <stdint.h>

/* Starts a call: installs the logging hook once and forgets earlier diagnostics. Called with
 * the library's lock held. */
void mseedio_log_start(void);

/* Forgets the diagnostics collected so far (what libmseed said about a trial, not the record). */
void mseedio_log_clear(void);

/* Formats the caller's message; libmseed's diagnostics of the call, if any, follow once in
 * parentheses. */
__attribute__((format(printf, 3, 4))) void mseedio_fail(char *message, size_t size,
                                                        const char *format, ...);

/* Takes and leaves the library's lock (libmseed's hook, settings and the scratch buffer are
 * process-wide). */
void mseedio_lock(void);
void mseedio_unlock(void);

/* One record as decoded: libmseed's structure (samples in msr->datasamples, numsamples set when
 * decoded), its length, and what the reader needs to know of its layout. */
typedef struct decoded {
    MSRecord *msr;
    int length;
    int flags; /* MSEEDIO_LITTLE_ENDIAN, MSEEDIO_NO_BLOCKETTE1000, MSEEDIO_NO_DATA_OFFSET */
} decoded;

/* What decode_record is to do with the record's data. */
enum { HEADER_ONLY = 0, WITH_DATA = 1 };

/* Decodes the record at the start of `data` (`length` bytes; `final`: nothing follows them).
 * Returns the record length (> 0), 0 when the record continues beyond `length` and the input
 * is not final, or a failure code with the message written. `out->msr` is reused from call
 * to call (free it with msr_free). */
int mseedio_decode_record(const unsigned char *data, size_t length, int final, int want,
                          decoded *out, char *message, size_t message_size);

/* Decodes the data of a record whose header mseedio_decode_record read (HEADER_ONLY) and checks
 * them; 0 or a failure code with the message written. */
int mseedio_decode_data(decoded *record, char *message, size_t message_size);

/* The codes, quality, start, rate, length and encoding of a decoded record. */
void mseedio_fill_stream(mseedio_stream *stream, const decoded *record);

#endif
