// The records of a line-scan (pushbroom) camera: a one-dimensional sensor behind a lens, moving
// at constant velocity relative to a flat target (docs/line-scan.md has the model).
//
// Frames and units:
//   client frame  the frame of the physical points; the plate is its plane Z = 0 (client units).
//   camera frame  origin at the projection centre; x along the sensor line towards increasing u;
//                 z the optical axis, towards the scene; y = z × x. The sensor sees only its
//                 plane y = 0 (the view plane).
//   image         u = position along the sensor line (pixels), v = scan-line index (real).
//
// clnsc_physicalAtZEquals1FromLineScanImageParams, the lens, four doubles in this order:
//   offset  principal point u0 (pixels)
//   scale   focal length f (pixels per unit at Z = 1); (scale, offset) is the one-dimensional
//           transform u = f·x_d + u0 from the distorted position at Z = 1 to pixels
//   k1, k2  lens coefficients: x_d = x·(1 + k1·x² + k2·x⁴), x the undistorted position at Z = 1
//   Default (0, 1, 0, 0).
//
// clnsc_lineScanCameraUnconstrainedCalibrationParams, the camera:
//   lens                     the lens record above
//   poseInverseRotation,     the camera pose inverse, client -> camera at scan line 0:
//   poseInverseTranslation     Pc = R(q)·P + T
//   scannerMotion            M, the camera's displacement relative to the plate from one scan
//                            line to the next, in client units (the plate moves by −M)
//   Default: lens (0, 1, 0, 0), q = (0, 1, 0, 0) (R = diag(1, −1, −1): one unit above the
//   origin, looking down), T = (0, 0, 1), M = (0, 1, 0). It images (X, Y) at (u, v) = (X, Y).
//
// Record functions (<proc/cstd_record.h>) exist for both. Their compareEqual is tolerant, as
// every line-scan comparison: values a, b are equal when |a − b| <= 1e-12·max(1, |a|, |b|), and
// quaternions when they agree up to sign within 1e-12 (componentwise). Archives carry the pose
// as a rotation matrix, so a record that went through one comes back equal under this test but
// not bit for bit.
#ifndef PROC_CLNSC_LINESCANCAMERA_H
#define PROC_CLNSC_LINESCANCAMERA_H

#include <proc/c3d_quaternion.h>
#include <proc/clnsc_status.h>
#include <proc/cmath_vect.h>
#include <proc/cstd_record.h>
#include <tk/export.h>

#include <stdint.h>

typedef struct clnsc_physicalAtZEquals1FromLineScanImageParams {
  double offset;
  double scale;
  double k1;
  double k2;
} clnsc_physicalAtZEquals1FromLineScanImageParams;

CSTD_DECLARE_RECORD_FUNCTIONS(clnsc_physicalAtZEquals1FromLineScanImageParams)

typedef struct clnsc_lineScanCameraUnconstrainedCalibrationParams {
  clnsc_physicalAtZEquals1FromLineScanImageParams lens;
  c3d_quaternionUnit poseInverseRotation;
  cmath_vect3 poseInverseTranslation;
  cmath_vect3 scannerMotion;
} clnsc_lineScanCameraUnconstrainedCalibrationParams;

CSTD_DECLARE_RECORD_FUNCTIONS(clnsc_lineScanCameraUnconstrainedCalibrationParams)

// Component access. Every function returns CSTD_STATUS_BAD_ARGUMENT for a null pointer (nothing
// written). The setters refuse, with CLNSC_STATUS_BAD_VALUE and the camera unchanged, a value
// that is not finite and a lens scale of 0; the rotation is a unit quaternion by construction.
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getLens(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera,
    clnsc_physicalAtZEquals1FromLineScanImageParams* lens);
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setLens(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera,
    const clnsc_physicalAtZEquals1FromLineScanImageParams* lens);
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getCameraPoseInverse(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, c3d_quaternionUnit* rotation,
    cmath_vect3* translation);
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setCameraPoseInverse(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, const c3d_quaternionUnit* rotation,
    const cmath_vect3* translation);
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_getScannerMotion(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, cmath_vect3* motion);
TK_API cstd_status clnsc_lineScanCameraUnconstrainedCalibrationParams_setScannerMotion(
    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera, const cmath_vect3* motion);

// Re-expresses the camera source in a client frame turned about its Z axis (through its origin)
// so that +Y points along the in-plate part (Mx, My) of the scanner motion: with
// θ = atan2(Mx, My) and A the rotation about Z by θ, a point P gets the client coordinates A·P,
// and *aligned = source with R' = R·Aᵀ (quaternion with a > 0), T' = T, M' = (0, |(Mx, My)|, Mz)
// (the first component exactly 0) and the lens unchanged. Every point's image is the same in both
// frames, and aligning an aligned camera changes nothing. aligned may be source.
// Returns CLNSC_STATUS_SINGULAR when |(Mx, My)| <= 1e-12·|M| (including M = 0: no in-plate
// motion to align to) and CSTD_STATUS_BAD_ARGUMENT for a null pointer; *aligned is unchanged then.
TK_API cstd_status clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams* source,
    clnsc_lineScanCameraUnconstrainedCalibrationParams* aligned);

#endif
