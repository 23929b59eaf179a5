/*
 * ibmfloat: IBM System/360 hexadecimal single-precision words to and from IEEE 754 single
 * precision, to IEEE double precision exactly, and from it rounded once.
 * Plain C interface, valid C and C++; no allocation, no state, re-entrant.
 *
 * Arguments at their edges: each function checks them before it reads or writes a word, and one
 * it refuses changes nothing.
 *
 *   ibm2ieee    words null or count <= 0: nothing changed.
 *   ieee2ibm    words null or count <= 0: 0, nothing changed.
 *   ibm2double  words or out null, or count <= 0: nothing read or written.
 *   double2ibm  in or out null, or count <= 0: 0, nothing read or written.
 *
 * tests/exports/argument_table_test.cpp checks every row over a grid of these arguments.
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

/*
 * Converts `count` IEEE single-precision floats, given as their bits in host byte order, in
 * place: each word is overwritten with the IBM single-precision word (host byte order) nearest to
 * the float, ties to the even fraction, normalised (leading hex digit non-zero). Every finite
 * float, subnormals included, has an IBM value (exponent fields 27 to 96). Zeros keep their sign.
 * Infinities and NaNs have no IBM value: they become the largest IBM magnitude with their sign
 * (0x7FFFFFFF, 0xFFFFFFFF). Returns how many words had no IBM value; 0 for a count of zero or
 * below, or a null array, which do nothing.
 */
IBMFLOAT_API int ieee2ibm(uint32_t *words, int count);

/*
 * Writes the exact values of `count` IBM single-precision words (host byte order) to `out` as
 * doubles: sign x fraction/2^24 x 16^(exponent-64), unnormalised fractions included. Every IBM
 * single is a double, so nothing is rounded; a zero fraction gives a zero of the word's sign.
 * `words` and `out` must not overlap. A count of zero or below, or a null pointer, does nothing.
 */
IBMFLOAT_API void ibm2double(const uint32_t *words, double *out, int count);

/*
 * Writes to `out` the IBM single-precision word (host byte order) nearest to each of `count`
 * IEEE doubles `in`: one rounding, ties to the even fraction, normalised (leading hex digit
 * non-zero) from 16^-65 up. Below that the exponent field stays 0 and the fraction shrinks, down
 * to a zero of the double's sign (zeros keep their sign too). NaNs, infinities and magnitudes
 * that round beyond the largest IBM value ((1 - 2^-24) x 16^63, about 7.2e75) have no IBM value:
 * they become the largest IBM magnitude with their sign (0x7FFFFFFF, 0xFFFFFFFF). Returns how
 * many doubles had no IBM value; 0 for a count of zero or below, or a null pointer, which do
 * nothing. `in` and `out` must not overlap.
 */
IBMFLOAT_API int double2ibm(const double *in, uint32_t *out, int count);

#ifdef __cplusplus
}
#endif

#endif /* IBMFLOAT_H */
