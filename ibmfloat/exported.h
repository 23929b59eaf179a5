// Included first by every source of the library: marks the public function for export (all else
// is hidden by the build's visibility preset), then declares it.
#ifndef IBMFLOAT_EXPORTED_H
#define IBMFLOAT_EXPORTED_H

#define IBMFLOAT_API __attribute__((visibility("default")))
#include "ibmfloat.h"

#endif
