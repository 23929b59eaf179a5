// The ibmfloat kernel families (cpu/kernel_table.h): for each public function one kernel per
// instruction set, all with the contract of that function but on a size_t count, listed in
// kernels.cpp fastest first, portable last. The public entries call family.get(); the tests and
// the benchmark force each kernel under them, or call it directly.
#ifndef IBMFLOAT_KERNELS_H
#define IBMFLOAT_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "kernel_table.h"

namespace ibmfloat {

// ---- ibm2ieee: IBM words to IEEE floats in place.
using ToIeeeFn = void (*)(uint32_t *words, size_t count);
void convert_portable(uint32_t *words, size_t count);
#ifdef WAVELIBS_X86_KERNELS
void convert_avx2(uint32_t *words, size_t count);
void convert_avx512(uint32_t *words, size_t count);
#endif
extern constinit cpu::Family<ToIeeeFn> to_ieee_family;

// ---- ieee2ibm: IEEE floats to IBM words in place; returns how many words had no IBM value.
using ToIbmFn = size_t (*)(uint32_t *words, size_t count);
size_t to_ibm_portable(uint32_t *words, size_t count);
#ifdef WAVELIBS_X86_KERNELS
size_t to_ibm_avx2(uint32_t *words, size_t count);
size_t to_ibm_avx512(uint32_t *words, size_t count);
#endif
extern constinit cpu::Family<ToIbmFn> to_ibm_family;

// ---- ibm2double: IBM words to doubles in a separate array.
using ToDoubleFn = void (*)(const uint32_t *words, double *out, size_t count);
void to_double_portable(const uint32_t *words, double *out, size_t count);
#ifdef WAVELIBS_X86_KERNELS
void to_double_avx2(const uint32_t *words, double *out, size_t count);
void to_double_avx512(const uint32_t *words, double *out, size_t count);
#endif
extern constinit cpu::Family<ToDoubleFn> to_double_family;

// ---- double2ibm: doubles to IBM words in a separate array; returns how many doubles had no
// IBM value.
using FromDoubleFn = size_t (*)(const double *in, uint32_t *out, size_t count);
size_t from_double_portable(const double *in, uint32_t *out, size_t count);
#ifdef WAVELIBS_X86_KERNELS
size_t from_double_avx2(const double *in, uint32_t *out, size_t count);
size_t from_double_avx512(const double *in, uint32_t *out, size_t count);
#endif
extern constinit cpu::Family<FromDoubleFn> from_double_family;

}  // namespace ibmfloat

#endif
