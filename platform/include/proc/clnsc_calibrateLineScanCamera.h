// Line-scan camera calibration of the procedural layer: fits a line-scan camera to point pairs
// and returns it as a calibrated-transform record that holds the line-scan transform.
//
// clnsc_calibrateLineScanCameraParams, in record order:
//   useDistanceFromCameraToTarget  1: the fit uses distanceFromCameraToTarget; 0: it does not
//   distanceFromCameraToTarget     camera-to-target distance (client units), > 0 when used
//   alignYAxisToScannerMotion      1: turn the client frame about Z so that +Y points along the
//                                  in-plate scanner motion (as
//                                  clnsc_lineScanCameraSyntheticallyAlignToScannerMotion);
//                                  0: keep the frame of the physical points
//   Default (0, 0.0, 0). Plain record functions; compareEqual compares exactly.
//
// clnsc_calibrateLineScanCameraResult, in record order:
//   rmsResidual      sqrt(Σ|e_i|²/n), e_i = image_i − (plate -> image)(physical_i), pixels
//   maxResidual      max |e_i|, pixels
//   calibratedXform  a calibrated-transform record holding the fitted line-scan transform
//                    (w2i = 1); its mapPoint maps image -> plate, invMapPoint plate -> image
//   Default: 0, 0, the default calibrated transform. Record functions deep-copy the
//   calibrated transform (and fail as ccal_xformCalib2's do); compareEqual compares the doubles
//   exactly and the transforms as ccal_xformCalib2_compareEqual.
#ifndef PROC_CLNSC_CALIBRATELINESCANCAMERA_H
#define PROC_CLNSC_CALIBRATELINESCANCAMERA_H

#include <proc/ccal_xformCalib2.h>
#include <proc/clnsc_status.h>
#include <proc/cstd_record.h>
#include <proc/cstd_vector.h>
#include <tk/export.h>

#include <stdint.h>

typedef struct clnsc_calibrateLineScanCameraParams {
  int32_t useDistanceFromCameraToTarget;
  double distanceFromCameraToTarget;
  int32_t alignYAxisToScannerMotion;
} clnsc_calibrateLineScanCameraParams;

CSTD_DECLARE_RECORD_FUNCTIONS(clnsc_calibrateLineScanCameraParams)

typedef struct clnsc_calibrateLineScanCameraResult {
  double rmsResidual;
  double maxResidual;
  ccal_xformCalib2 calibratedXform;
} clnsc_calibrateLineScanCameraResult;

CSTD_DECLARE_RECORD_FUNCTIONS(clnsc_calibrateLineScanCameraResult)

// Calibrates: imagePoints[i] = (u, v) is the image of physicalPoints[i] = (X, Y, 0). The fit,
// its conventions and its statuses are those of clnsc_xformLineScan_initPoints (the distance
// when params says so); params with the flag set and a distance that is not finite and
// positive give CLNSC_STATUS_BAD_VALUE. The alignment, when asked for, leaves the residual
// figures unchanged. result is written only on success; CSTD_STATUS_BAD_ARGUMENT for a null
// pointer, CSTD_STATUS_OUT_OF_MEMORY when the transform cannot be copied.
TK_API cstd_status clnsc_calibrateLineScanCamera(const cstd_vector_cmath_vect* imagePoints,
                                                 const cstd_vector_cmath_vect* physicalPoints,
                                                 const clnsc_calibrateLineScanCameraParams* params,
                                                 clnsc_calibrateLineScanCameraResult* result);

#endif
