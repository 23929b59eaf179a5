/* A consumer of the installed libmseedio: packs a ramp into Steim-2 records and reads them back,
 * exiting non-zero at the first wrong result. */
#include <mseedio.h>

#include <stdio.h>
#include <string.h>

#define COUNT 2000

int main(void) {
    static int32_t samples[COUNT];
    static int32_t back[MSEEDIO_MAX_RECORD_SAMPLES];
    static char records[32 * 512];
    char message[256];
    mseedio_stream stream;
    mseedio_record record;
    size_t used = 0, at = 0;
    int total = 0;

    for (int i = 0; i < COUNT; i++) {
        samples[i] = i * i - 1000;
    }
    memset(&stream, 0, sizeof stream);
    strcpy(stream.network, "XX");
    strcpy(stream.station, "INST");
    strcpy(stream.channel, "BHZ");
    stream.quality = 'D';
    stream.start = 946684800000000LL;
    stream.rate = 20.0;
    stream.record_length = 512;
    stream.encoding = MSEEDIO_STEIM2;
    if (mseedio_pack(&stream, samples, COUNT, 1, records, sizeof records, &used, message,
                     sizeof message) <= 0) {
        fprintf(stderr, "consumer_mseed: mseedio_pack failed: %s\n", message);
        return 1;
    }
    while (at < used) {
        int length = mseedio_unpack(records + at, used - at, &record, back,
                                    MSEEDIO_MAX_RECORD_SAMPLES, message, sizeof message);
        if (length <= 0 || total + record.sample_count > COUNT ||
            memcmp(back, samples + total, (size_t)record.sample_count * sizeof back[0]) != 0 ||
            record.stream.start != stream.start + (int64_t)total * 50000) {
            fprintf(stderr, "consumer_mseed: record at byte %zu read wrong: %s\n", at, message);
            return 1;
        }
        total += record.sample_count;
        at += (size_t)length;
    }
    if (total != COUNT) {
        fprintf(stderr, "consumer_mseed: %d samples came back, not %d\n", total, COUNT);
        return 1;
    }
    puts("consumer_mseed: the installed libmseedio works");
    return 0;
}
