// Procedural calibration of a telecentric camera from a planar plate seen in several known poses.
//
// Camera model (orthographic): a plate point P of pose i maps to the image point
//   image = K * (Q.x, Q.y),   Q = E * (pose_i * P),   K = [[sx, skew], [0, sy]],
// with pose_i the plate -> home transform given by the caller and E the rigid home -> camera
// transform. The result is a calibrated-transform record (<proc/ccal_xformCalib2.h>) with the
// telecentric model (CCAL_DISTORTION_TELECENTRIC); its K translation is (0, 0): the image offset
// acts exactly like E's (x, y) translation, and the calibration keeps it in E. Q.z does not reach
// the image, so E's Z translation is fixed by a rule instead (see the params record).
//
// Records (function families of <proc/cstd_record.h>, type checks of <proc/csys_typecheck.h>):
//
//   ccal_calibrateTelecentricCameraParams (plain)
//     useCameraHeight  int32_t  non-zero: cameraHeight fixes E's Z translation       default 0
//     cameraHeight     double   places the camera frame's origin at home-frame
//                               Z = -cameraHeight, i.e. (R^T t).z = cameraHeight for
//                               E = (R, t); with useCameraHeight 0 the rule holds with
//                               0 (the origin lies on the home plane Z = 0)            default 0.0
//     maxIterations    int32_t  iteration limit of the refinement; 0 returns the
//                               closed-form estimate                                   default 100
//
//   ccal_calibrateTelecentricCameraResult
//     poseRmsResiduals  cstd_vectord     per pose: sqrt(sum w d^2 / sum w), d the image
//                                        residual in pixels (0 when the weights sum to 0)
//     poseMaxResiduals  cstd_vectord     per pose: the largest d (weights do not matter; 0
//                                        for a pose without points)
//     calibratedXform   ccal_xformCalib2 the camera
//   Default value: empty vectors and the default calibrated transform. constructCopy and
//   assign copy deeply (and may fail with CSTD_STATUS_OUT_OF_MEMORY; assign then leaves the
//   target unchanged); compareEqual compares all three fields.
#ifndef PROC_CCAL_CALIBRATETELECENTRICCAMERA_H
#define PROC_CCAL_CALIBRATETELECENTRICCAMERA_H

#include <proc/ccal_xformCalib2.h>
#include <proc/cstd_record.h>
#include <proc/cstd_status.h>
#include <proc/cstd_vector.h>
#include <tk/export.h>

#include <stdint.h>

typedef struct ccal_calibrateTelecentricCameraParams {
  int32_t useCameraHeight;
  double cameraHeight;
  int32_t maxIterations;
} ccal_calibrateTelecentricCameraParams;

CSTD_DECLARE_RECORD_FUNCTIONS(ccal_calibrateTelecentricCameraParams)

typedef struct ccal_calibrateTelecentricCameraResult {
  cstd_vectord poseRmsResiduals;
  cstd_vectord poseMaxResiduals;
  ccal_xformCalib2 calibratedXform;
} ccal_calibrateTelecentricCameraResult;

CSTD_DECLARE_RECORD_FUNCTIONS(ccal_calibrateTelecentricCameraResult)

// Failure statuses of ccal_calibrateTelecentricCamera (key 0x84).
#define CCAL_STATUS_TELECENTRIC_FAILURE_(code) ((cstd_status)(0x84000000u | (uint32_t)(code)))
// The number of correspondence lists differs from the number of poses.
#define CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH CCAL_STATUS_TELECENTRIC_FAILURE_(1)
// Fewer than two poses.
#define CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES CCAL_STATUS_TELECENTRIC_FAILURE_(2)
// The params record holds a negative maxIterations, or a non-finite cameraHeight while
// useCameraHeight is set.
#define CCAL_STATUS_TELECENTRIC_BAD_PARAMS CCAL_STATUS_TELECENTRIC_FAILURE_(3)
// A coordinate or pose value is not finite, or a weight is negative or not finite.
#define CCAL_STATUS_TELECENTRIC_BAD_VALUE CCAL_STATUS_TELECENTRIC_FAILURE_(4)
// Fewer than four correspondences of positive weight: the affine map cannot be fitted.
#define CCAL_STATUS_TELECENTRIC_TOO_FEW_POINTS CCAL_STATUS_TELECENTRIC_FAILURE_(5)
// The home-frame points of positive weight lie in one plane (or on a line): the camera is not
// determined. Also returned when the fitted map has rank below 2.
#define CCAL_STATUS_TELECENTRIC_SINGULAR CCAL_STATUS_TELECENTRIC_FAILURE_(6)
// The camera's optical axis lies in the home plane (|R(2, 2)| <= 1e-9): E's Z translation cannot
// be placed by the camera-height rule.
#define CCAL_STATUS_TELECENTRIC_EDGE_ON CCAL_STATUS_TELECENTRIC_FAILURE_(7)
// The computation met a value it cannot handle (not expected for input that passes the checks).
#define CCAL_STATUS_TELECENTRIC_NUMERIC_FAILURE CCAL_STATUS_TELECENTRIC_FAILURE_(8)

// Calibrates the camera from correspondences (element i: the list of pose i; each pair's image
// point p in pixels, plate point P, weight w >= 0 multiplying its squared residual) and poses
// (plate -> home), and writes result.
//
// Method: the weighted least-squares affine map home frame -> image (fitted on centred
// coordinates), factored into K and E as above, then refined by Levenberg-Marquardt on the image
// residual over sx, sy, skew, E's rotation and E's (x, y) translation (with an analytic
// Jacobian); E's Z translation follows the camera-height rule. For unit weights the affine fit is
// already the least-squares optimum of the model, and the refinement confirms it to rounding.
//
// Returns CSTD_STATUS_OK, or (checked in this order): CSTD_STATUS_BAD_ARGUMENT for a null pointer;
// CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH; _TOO_FEW_POSES; _BAD_PARAMS; _BAD_VALUE;
// _TOO_FEW_POINTS; _SINGULAR; _EDGE_ON; _NUMERIC_FAILURE; CSTD_STATUS_ABORTED when the calling
// thread's abort token is set (polled once per pose, every 128 points and at every evaluation of
// the refinement); CSTD_STATUS_OUT_OF_MEMORY. On failure the result record stays valid, and is
// untouched unless the failure is CSTD_STATUS_OUT_OF_MEMORY while it is being written.
// The implementation uses the core library's Levenberg-Marquardt framework and lives with it.
TK_API cstd_status
ccal_calibrateTelecentricCamera(const cstd_vector_vector_ccal_crspPair2D3DWeighted* correspondences,
                                const cstd_vector_cmath_xformLinear3* poses,
                                const ccal_calibrateTelecentricCameraParams* params,
                                ccal_calibrateTelecentricCameraResult* result);

#endif
