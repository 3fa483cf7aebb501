// Line-scan camera calibration: the options class tkCalibrateLineScanCameraParams, the
// calibration tfCalibrateLineScanCamera and tfAlignClientCoordinatesToScannerMotion
// (docs/line-scan.md explains the camera model, the conventions of the result and the options).
//
// The results are calibrated transforms (tk2XformCalib2) that hold a line-scan transform: their
// mapPoint maps image points (u pixels, v scan line) to the plate plane of the client frame and
// invMapPoint maps back.
#ifndef CCAL_LINE_SCAN_CALIBRATION_H
#define CCAL_LINE_SCAN_CALIBRATION_H

#include <ccal/export.h>
#include <ccal/line_scan_calibration_errors.h>
#include <tk/archive.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <vector>

// Options of the calibration; a plain value class with member-wise copy.
class CCAL_API tkCalibrateLineScanCameraParams {
 public:
  // useDistanceFromCameraToTarget false, distanceFromCameraToTarget 0.0, mode 0.
  tkCalibrateLineScanCameraParams() = default;

  // When true, the calibration places the camera at distanceFromCameraToTarget above the
  // plate (the height of its projection centre at scan line 0); when false, the camera's scale
  // follows a convention (focal length twice the used width of the line). The mapping between
  // image and plate does not depend on it.
  bool useDistanceFromCameraToTarget() const { return useDistanceFromCameraToTarget_; }
  void useDistanceFromCameraToTarget(bool use) { useDistanceFromCameraToTarget_ = use; }

  // Camera-to-target distance in client units. The setter throws
  // tkCalibrateLineScanCameraDefs::BadParams ("distanceFromCameraToTarget < 0 ||
  // distanceFromCameraToTarget == HUGE_VAL") for a negative value, +HUGE_VAL or NaN and then
  // keeps the stored value; 0 is accepted (but cannot be calibrated with while the flag is set).
  double distanceFromCameraToTarget() const { return distanceFromCameraToTarget_; }
  void distanceFromCameraToTarget(double distance);

  // How the calibration sets the client frame's Y axis. The setter throws
  // tkCalibrateLineScanCameraDefs::BadParams ("invalid enum") for a value other than 0 and 1 and
  // then keeps the stored mode.
  tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode calibrationYAxisAdjustmentMode()
      const {
    return calibrationYAxisAdjustmentMode_;
  }
  void calibrationYAxisAdjustmentMode(
      tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode mode);

  // All three fields equal (the distance is compared even when the flag is false).
  bool operator==(const tkCalibrateLineScanCameraParams& other) const;
  bool operator!=(const tkCalibrateLineScanCameraParams& other) const { return !(*this == other); }

 private:
  friend CCAL_API tkArchive& operator||(tkArchive& ar, tkCalibrateLineScanCameraParams& params);

  bool useDistanceFromCameraToTarget_ = false;
  double distanceFromCameraToTarget_ = 0.0;
  tkCalibrateLineScanCameraDefs::CalibrationYAxisAdjustmentMode calibrationYAxisAdjustmentMode_ =
      tkCalibrateLineScanCameraDefs::eNoYAxisAdjustment;
};

// Moves the options through an archive: version byte 0, useDistanceFromCameraToTarget (bool),
// distanceFromCameraToTarget (double), the mode as an unsigned 32-bit value. Another version byte
// throws tkArchive::UnknownVersion ("ccal/lnsc/ccalibls", 107) before any field is read. Loaded
// values are not validated.
CCAL_API tkArchive& operator||(tkArchive& ar, tkCalibrateLineScanCameraParams& params);

// Calibrates a line-scan camera from one view of a plate: imagePoints[k] (u along the sensor
// line in pixels, v the scan line) is the image of physicalPoints[k] (X, Y on the plate, Z = 0,
// client units). On success calibratedXform holds the fitted camera (mapPoint: image -> plate,
// invMapPoint: plate -> image), firstResultValue the RMS image residual sqrt(Σ|e_k|²/n) and
// secondResultValue the largest image residual max |e_k| (pixels), e_k = imagePoints[k] −
// invMapPoint(physicalPoints[k]) of the camera before any Y-axis adjustment. The outputs are
// written only on success.
// The lens model follows the number of points (two coefficients from 8 points on, fewer below,
// an affine camera from 4 or 5 points). With mode eAlignYAxisToScannerMotion the client frame
// of the result is turned as tfAlignClientCoordinatesToScannerMotion turns it.
// Throws:
//   tkCalibrateLineScanCameraDefs::BadParams
//     "params.useDistanceFromCameraToTarget() && params.distanceFromCameraToTarget() == 0"
//       (checked first, before anything is built)
//     "imagePoints.size() != physicalPoints.size()"
//   tkCalibrateLineScanCameraDefs::InsufficientPoints  "imagePoints.size() < 4"
//   tkMathError::Singular  the points determine no camera (collinear plate points, constant u or
//                          v, ...), or mode 1 with a scanner motion that has no in-plate part
//   tkProcedureFailure (errorNumber() 0x80001003)  a non-finite coordinate, or the flag set with
//                          a distance that is not finite and positive (possible after loading)
//   tkAttention::Aborted   on an abort request (checked between the stages of the fit and
//                          before every trial step of its refinement); outputs untouched
CCAL_API void tfCalibrateLineScanCamera(const std::vector<tkVector<2>>& imagePoints,
                                        const std::vector<tkVector<2>>& physicalPoints,
                                        const tkCalibrateLineScanCameraParams& params,
                                        double& firstResultValue, double& secondResultValue,
                                        tk2XformCalib2& calibratedXform);

// The same from pairs: first the image point, second the physical point.
CCAL_API void tfCalibrateLineScanCamera(
    const std::vector<tkPair<tkVector<2>>>& imagePointsPhysicalPoints,
    const tkCalibrateLineScanCameraParams& params, double& firstResultValue,
    double& secondResultValue, tk2XformCalib2& calibratedXform);

// Re-expresses a line-scan calibration in a client frame turned about its Z axis (through its
// origin) so that +Y points along the in-plate part of the scanner motion: a point with client
// coordinates P has the coordinates A·P afterwards (A the turn), and every image point maps to
// the turned plate point. Aligning twice changes nothing more. Throws tkProcedureFailure
// (errorNumber() 0x80001004) when calibratedXform holds no line-scan transform and
// tkMathError::Singular when the scanner motion has no in-plate part; calibratedXform is then
// unchanged.
CCAL_API void tfAlignClientCoordinatesToScannerMotion(tk2XformCalib2& calibratedXform);

#endif
