/* Both public headers compile as C99 with the library's warnings, and a C program links and calls
 * each library through them. */
#include "ibmfloat.h"
#include "wavecodec.h"

#include <stdio.h>
#include <string.h>

static char written[16];
static int n_written;

static int collect(int c) {
    if (n_written < (int)sizeof written) {
        written[n_written++] = (char)c;
    }
    return c;
}

int main(void) {
    const int32_t samples[2] = {1000, -1};
    uint32_t word = 0x41100000u; /* 1.0 */
    uint32_t back;
    float value;
    double exact = 0.0;
    const double doubles[2] = {-100.0, 1e76};
    uint32_t from_doubles[2] = {0, 0};

    if (compress_6b_buffer(samples, 2, collect) != 0 || n_written != 4 ||
        memcmp(written, "Uz6F", 4) != 0) {
        puts("compress_6b_buffer through the C header failed");
        return 1;
    }
    ibm2ieee(&word, 1);
    memcpy(&value, &word, sizeof value);
    if (value != 1.0f) {
        puts("ibm2ieee through the C header failed");
        return 1;
    }
    value = -100.0f;
    memcpy(&back, &value, sizeof back);
    if (ieee2ibm(&back, 1) != 0 || back != 0xC2640000u) {
        puts("ieee2ibm through the C header failed");
        return 1;
    }
    ibm2double(&back, &exact, 1);
    if (exact != -100.0) {
        puts("ibm2double through the C header failed");
        return 1;
    }
    if (double2ibm(doubles, from_doubles, 2) != 1 || from_doubles[0] != 0xC2640000u ||
        from_doubles[1] != 0x7FFFFFFFu) {
        puts("double2ibm through the C header failed");
        return 1;
    }
    return 0;
}
