/* Test and benchmark helper (never installed): libmseed itself writing records and reading them
 * into traces, so that the tests compare the package with libmseed on files libmseed made.
 *
 *   mseed_tool write OUT NET STA LOC CHA START_US RATE RECLEN ENCODING BYTEORDER SAMPLES
 *       packs the samples of file SAMPLES (int32 for integer encodings, float32, float64 or
 *       text bytes, host order) with msr_pack, flushed, into OUT; prints records and samples.
 *   mseed_tool read OUT FILE...
 *       ms_readtraces of each FILE into one trace group, healed (mst_groupheal); prints one
 *       line per trace (net sta loc cha start_us end_us rate count type) and appends its
 *       samples to OUT.
 *   mseed_tool time-pack RUNS RECLEN SAMPLES   best wall and processor seconds of msr_pack of
 *       int32 SAMPLES (Steim-2, big-endian, records kept in memory)
 *   mseed_tool time-read RUNS FILE             best wall and processor seconds of
 *       ms_readtraces of FILE
 */
#define _POSIX_C_SOURCE 200809L
#include <libmseed.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Records packed in memory, as a writer keeps them before writing. */
struct memory {
    char *data;
    size_t used;
    size_t capacity;
};

static void keep_record(char *record, int length, void *handler_data) {
    struct memory *m = (struct memory *)handler_data;
    if (m->used + (size_t)length > m->capacity) {
        m->capacity = 2 * (m->used + (size_t)length);
        m->data = realloc(m->data, m->capacity);
        if (m->data == NULL) {
            exit(3);
        }
    }
    memcpy(m->data + m->used, record, (size_t)length);
    m->used += (size_t)length;
}

static void write_record(char *record, int length, void *handler_data) {
    fwrite(record, 1, (size_t)length, (FILE *)handler_data);
}

static char *slurp(const char *path, long *size) {
    FILE *f = fopen(path, "rb");
    if (f == NULL) {
        perror(path);
        exit(2);
    }
    fseek(f, 0, SEEK_END);
    *size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *data = malloc((size_t)*size + 1);
    if (data == NULL || fread(data, 1, (size_t)*size, f) != (size_t)*size) {
        fprintf(stderr, "cannot read %s\n", path);
        exit(2);
    }
    fclose(f);
    return data;
}

static double clock_of(clockid_t which) {
    struct timespec t;
    clock_gettime(which, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* Best wall and processor seconds of the runs so far. */
struct best {
    double wall;
    double cpu;
};

static void start_run(double *wall, double *cpu) {
    *wall = clock_of(CLOCK_MONOTONIC);
    *cpu = clock_of(CLOCK_PROCESS_CPUTIME_ID);
}

static void end_run(struct best *b, double wall, double cpu) {
    double w = clock_of(CLOCK_MONOTONIC) - wall;
    double c = clock_of(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    b->wall = w < b->wall ? w : b->wall;
    b->cpu = c < b->cpu ? c : b->cpu;
}

static MSRecord *new_record(const char *net, const char *sta, const char *loc, const char *cha,
                            int reclen, int encoding, int byteorder) {
    MSRecord *msr = msr_init(NULL);
    strcpy(msr->network, net);
    strcpy(msr->station, sta);
    strcpy(msr->location, loc);
    strcpy(msr->channel, cha);
    msr->dataquality = 'D';
    msr->reclen = reclen;
    msr->encoding = (int8_t)encoding;
    msr->byteorder = (int8_t)byteorder;
    return msr;
}

static int write_file(char **argv) {
    int encoding = atoi(argv[8]);
    MSRecord *msr = new_record(argv[1], argv[2], argv[3], argv[4], atoi(argv[7]), encoding,
                               atoi(argv[9]));
    msr->starttime = strtoll(argv[5], NULL, 10);
    msr->samprate = atof(argv[6]);
    long size = 0;
    char *samples = slurp(argv[10], &size);
    int width = encoding == DE_ASCII ? 1 : encoding == DE_FLOAT64 ? 8 : 4;
    msr->sampletype = encoding == DE_ASCII    ? 'a'
                      : encoding == DE_FLOAT32 ? 'f'
                      : encoding == DE_FLOAT64 ? 'd'
                                               : 'i';
    msr->datasamples = samples;
    msr->numsamples = size / width;
    FILE *out = fopen(argv[0], "wb");
    int64_t packed = 0;
    int records = msr_pack(msr, write_record, out, &packed, 1, 0);
    fclose(out);
    printf("%d %lld\n", records, (long long)packed);
    msr->datasamples = NULL;
    msr_free(&msr);
    free(samples);
    return records < 0 || packed != size / width;
}

static int read_files(int argc, char **argv) {
    MSTraceGroup *group = NULL;
    for (int i = 1; i < argc; i++) {
        int status = ms_readtraces(&group, argv[i], 0, -1.0, -1.0, 0, 1, 1, 0);
        if (status != MS_NOERROR) {
            printf("status %d %s\n", status, ms_errorstr(status));
        }
    }
    if (group == NULL) {
        return 1;
    }
    mst_groupheal(group, -1.0, -1.0);
    FILE *out = fopen(argv[0], "wb");
    for (MSTrace *t = group->traces; t != NULL; t = t->next) {
        printf("trace %s %s %s %s %lld %lld %.17g %lld %c\n", t->network, t->station,
               t->location[0] ? t->location : "-", t->channel, (long long)t->starttime,
               (long long)t->endtime, t->samprate, (long long)t->numsamples,
               t->sampletype ? t->sampletype : '-');
        if (t->numsamples > 0) {
            fwrite(t->datasamples, ms_samplesize(t->sampletype), (size_t)t->numsamples, out);
        }
    }
    fclose(out);
    mst_freegroup(&group);
    return 0;
}

static int time_pack(char **argv) {
    int runs = atoi(argv[0]);
    long size = 0;
    char *samples = slurp(argv[2], &size);
    struct best best = {1e30, 1e30};
    for (int run = 0; run < runs; run++) {
        MSRecord *msr = new_record("XX", "BENCH", "", "HHZ", atoi(argv[1]), DE_STEIM2, 1);
        msr->starttime = 1704067200000000LL;
        msr->samprate = 100.0;
        msr->sampletype = 'i';
        msr->datasamples = samples;
        msr->numsamples = size / 4;
        struct memory m = {NULL, 0, 0};
        int64_t packed = 0;
        double wall, cpu;
        start_run(&wall, &cpu);
        int records = msr_pack(msr, keep_record, &m, &packed, 1, 0);
        end_run(&best, wall, cpu);
        if (records < 0 || packed != size / 4) {
            return 1;
        }
        msr->datasamples = NULL;
        msr_free(&msr);
        free(m.data);
    }
    printf("%.6f %.6f\n", best.wall, best.cpu);
    free(samples);
    return 0;
}

static int time_read(char **argv) {
    int runs = atoi(argv[0]);
    struct best best = {1e30, 1e30};
    for (int run = 0; run < runs; run++) {
        MSTraceGroup *group = NULL;
        double wall, cpu;
        start_run(&wall, &cpu);
        int status = ms_readtraces(&group, argv[1], 0, -1.0, -1.0, 0, 1, 1, 0);
        end_run(&best, wall, cpu);
        if (status != MS_NOERROR || group == NULL || group->numtraces < 1) {
            return 1;
        }
        mst_freegroup(&group);
    }
    printf("%.6f %.6f\n", best.wall, best.cpu);
    return 0;
}

int main(int argc, char **argv) {
    if (argc >= 13 && strcmp(argv[1], "write") == 0) {
        return write_file(argv + 2);
    }
    if (argc >= 4 && strcmp(argv[1], "read") == 0) {
        return read_files(argc - 2, argv + 2);
    }
    if (argc == 5 && strcmp(argv[1], "time-pack") == 0) {
        return time_pack(argv + 2);
    }
    if (argc == 4 && strcmp(argv[1], "time-read") == 0) {
        return time_read(argv + 2);
    }
    fprintf(stderr, "usage: see the head of mseed_tool.c\n");
    return 2;
}
