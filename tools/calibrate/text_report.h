// The human-readable report of a calibration: the input, per camera the model in conventional
// terms (camera matrix, lens, centre of expansion) and in the library's own terms, the poses, the
// residual figures per camera and per placement, the worst points and the wall time.
#ifndef CCAL_TOOLS_CALIBRATE_TEXT_REPORT_H
#define CCAL_TOOLS_CALIBRATE_TEXT_REPORT_H

#include "calibration_result.h"

#include <string>

// worst: how many of the largest residuals to list (0: none).
std::string tfTextReport(const tkToolResult& result, int worst);

#endif
