// Included first by every source of the library: marks the public functions for export (all
// else is hidden by the build's visibility preset), then declares them.
#ifndef WAVECODEC_EXPORTED_H
#define WAVECODEC_EXPORTED_H

#define WAVECODEC_API __attribute__((visibility("default")))
#include "wavecodec.h"

#endif
