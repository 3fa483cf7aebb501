// Refinement of a single-camera model (intrinsics, lens distortion and pose) from 2D-3D
// correspondences by non-linear least squares.
//
// A correspondence pairs an image point p (pixels) with the physical point P it shows (plate or
// world units; several plate placements give points off one plane); the weighted form carries a
// weight w that multiplies the point's squared error (0 removes the point). The result minimises
// the weighted image error of the model's projection invWarpPoint(P) - the error measured in the
// camera's normalised planes, which is the image error up to the scale of the camera matrix -
// starting from initial, which must lie in the basin of the solution (a coarse estimate is
// enough: see tfCameraCalibrationParamsCoarse). The distortion model is initial's.
//
// Before solving, the physical frame is scaled so that the camera sits at distance 1 and the
// image points are normalised (mean 0, three standard deviations 1 per axis); the result is
// mapped back to pixels and the caller's physical unit, so it does not depend on either. At most
// 300 iterations are made; non-convergence is not reported (the parameters reached are
// returned). An abort request (tkAttentionScope) ends the minimisation under every model (it is
// checked before each step), and the result is the model reached at that point.
#ifndef CCAL_CAMERA_CALIBRATION_REFINE_H
#define CCAL_CAMERA_CALIBRATION_REFINE_H

#include <ccal/camera_calibration_params.h>
#include <ccal/export.h>
#include <tk/vector.h>

#include <utility>
#include <vector>

// Refines initial on weighted correspondences ((image point, physical point), weight) into
// result, which is assigned only after the solver has finished (it may be the same object as
// initial).
// Throws tkInvariantFailure when a coordinate or weight is not finite or a weight is negative,
// tkMathError::Singular for a non-finite initial pose, and what the procedural layer raises
// through tfThrowExceptionOnFailure. An empty list is reported as a failed internal assertion
// and initial comes back up to rounding; a distortion model other than eNoDistortion, eRadial and
// eSineTan is reported likewise and then throws tkInvariantFailure.
CCAL_API void tfRefineCameraCalibrationParams(
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
    const tkCameraCalibrationParams& initial, tkCameraCalibrationParams& result);

// The same with weight 1.0 for every pair (imagePoints[i], physicalPoints[i]). Lists of unequal
// length are reported as a failed internal assertion; the pairs of the shorter length are used.
CCAL_API void tfRefineCameraCalibrationParams(const std::vector<tkVector<2>>& imagePoints,
                                              const std::vector<tkVector<3>>& physicalPoints,
                                              const tkCameraCalibrationParams& initial,
                                              tkCameraCalibrationParams& result);

#endif
