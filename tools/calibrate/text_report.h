// The human-readable report of a calibration: the input, per camera the model in conventional
// terms (camera matrix, lens, centre of expansion) and in the library's own terms, the poses, the
// residual figures per camera and per placement, the worst points and the wall time.
#ifndef CCAL_TOOLS_CALIBRATE_TEXT_REPORT_H
#define CCAL_TOOLS_CALIBRATE_TEXT_REPORT_H

#include "calibration_result.h"

#include <string>

// worst: how many of the largest residuals to list (0: none).
std::string tfTextReport(const tkToolResult& result, int worst);

// Line-scan camera values read from a calibrated transform that holds a line-scan transform.
// Returns false (values untouched) when it holds none.
struct tkLineScanValues {
  double offset = 0, scale = 0, k1 = 0, k2 = 0;  // lens: u0 (px), f (px), k1, k2
  double quaternion[4] = {1, 0, 0, 0};           // client -> camera at scan line 0 (a, b, c, d)
  tkVector<3> translation;                       // of the same transform
  tkVector<3> centre;                            // projection centre at scan line 0 (client)
  tkVector<3> motion;                            // scanner motion per scan line (client units)
};
bool tfLineScanValues(const tk2XformCalib2& xform, tkLineScanValues& values);

#endif
