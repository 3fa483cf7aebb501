// Umbrella header: every public header of the calibration library and of the core types it
// is built on.
#ifndef CCAL_CCAL_H
#define CCAL_CCAL_H

#include <ccal/export.h>

#endif
