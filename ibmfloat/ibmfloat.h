/*
 * ibmfloat: IBM System/360 hexadecimal single-precision words to IEEE 754 single precision.
 * Plain C interface, valid C and C++; no allocation, no state, re-entrant.
 */
#ifndef IBMFLOAT_H
#define IBMFLOAT_H

#include <stdint.h>

#ifndef IBMFLOAT_API
#define IBMFLOAT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Converts `count` IBM single-precision words, in host byte order, in place: each word is
 * overwritten with the bits of the IEEE single-precision float nearest to its exact value
 * (sign x fraction/2^24 x 16^(exponent-64), rounded once, ties to even). Zero fractions give a
 * zero of the word's sign; values beyond the float range give an infinity of the word's sign;
 * no word gives NaN. A count of zero or below, or a null array, does nothing.
 */
IBMFLOAT_API void ibm2ieee(uint32_t *words, int count);

#ifdef __cplusplus
}
#endif

#endif /* IBMFLOAT_H */
