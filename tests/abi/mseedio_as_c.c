/* The mseedio header compiles as C99 with the project's warnings, and a C program packs samples
 * into records and reads them back through it. */
#include "mseedio.h"

#include <stdio.h>
#include <string.h>

#define COUNT 1000

int main(void) {
    static int32_t samples[COUNT];
    static int32_t back[MSEEDIO_MAX_RECORD_SAMPLES];
    static char records[64 * 512];
    char message[256];
    mseedio_stream stream;
    mseedio_record record;
    size_t used = 0;
    size_t at = 0;
    int total = 0;
    int16_t factor = 0;
    int16_t multiplier = 0;

    for (int i = 0; i < COUNT; i++) {
        samples[i] = (i * 7919) % 2001 - 1000;
    }
    memset(&stream, 0, sizeof stream);
    strcpy(stream.network, "XX");
    strcpy(stream.station, "ABC");
    strcpy(stream.channel, "HHZ");
    stream.quality = 'D';
    stream.start = 1700000000123000LL;
    stream.rate = 100.0;
    stream.record_length = 512;
    stream.encoding = MSEEDIO_STEIM2;
    if (mseedio_rate_fields(100.0, &factor, &multiplier) != 1 || factor != 100 ||
        multiplier != 1) {
        puts("mseedio_rate_fields: 100 Hz is not factor 100, multiplier 1");
        return 1;
    }
    int n = mseedio_pack(&stream, samples, COUNT, 1, records, sizeof records, &used, message,
                         sizeof message);
    if (n <= 0 || used != (size_t)n * 512) {
        printf("mseedio_pack failed: %d (%s)\n", n, message);
        return 1;
    }
    while (at < used) {
        int length = mseedio_unpack(records + at, used - at, &record, back,
                                    MSEEDIO_MAX_RECORD_SAMPLES, message, sizeof message);
        if (length != 512 || total + record.sample_count > COUNT ||
            memcmp(back, samples + total, (size_t)record.sample_count * sizeof back[0]) != 0) {
            printf("mseedio_unpack failed at byte %zu: %d (%s)\n", at, length, message);
            return 1;
        }
        total += record.sample_count;
        at += (size_t)length;
    }
    if (total != COUNT) {
        printf("%d samples came back, not %d\n", total, COUNT);
        return 1;
    }
    puts("mseedio through the C header: packed and unpacked");
    return 0;
}
