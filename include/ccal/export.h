// Export macro of the calibration library's own classes and functions.
#ifndef CCAL_EXPORT_H
#define CCAL_EXPORT_H

#include <tk/export.h>

#define CCAL_API TK_API

#endif
