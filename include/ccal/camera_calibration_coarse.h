// Closed-form first estimate of a single-camera model from 2D-3D correspondences: the direct
// linear transformation (DLT). Lens distortion is ignored; the result is the start for
// tfRefineCameraCalibrationParams.
#ifndef CCAL_CAMERA_CALIBRATION_COARSE_H
#define CCAL_CAMERA_CALIBRATION_COARSE_H

#include <ccal/camera_calibration_params.h>
#include <ccal/export.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <utility>
#include <vector>

// Estimates a camera from pairs (image point in pixels, physical point). The 3x4 projection
// matrix is the null vector of the 12x12 normal matrix of the DLT equations (the eigenvector of
// the eigenvalue of smallest magnitude), computed on normalised image points and a physical
// frame scaled so that the camera sits at distance about 1, then split into scales, rotation and
// translation:
// - pose (cameraPoseInverse, physical -> camera): the rows of the projection matrix normalised,
//   negated when their determinant is negative, and made a proper rotation; the translation
//   divided by the same row norms;
// - intrinsic model: scales (c/a, c/b) from the row norms a, b, c of the matrix, skew 0, the
//   principal point at the centroid of the image points, no lens distortion values (distModel
//   model: k = 0 under eRadial, p0..p3 = 1 under eSineTan, centre (0, 0)).
// The physical points must not all lie on one plane, and there must be at least six of them in
// general position; neither is tested, and such data give a meaningless model.
// Throws tkInvariantFailure when a coordinate is not finite, and tkMathError::Singular when the
// estimate is degenerate (a projection-matrix row of zeros, as for an empty list after the
// internal assertion of the image normalisation). result is assigned only on success.
CCAL_API void tfCameraCalibrationParamsCoarse(
    tk2XformCalib2Defs::tkCalib2DistortionModel model,
    const std::vector<std::pair<tkVector<2>, tkVector<3>>>& correspondences,
    tkCameraCalibrationParams& result);

#endif
