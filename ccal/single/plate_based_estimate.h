// A single-camera estimate from plate views, through the core library's planar calibration
// (tk2XformCalib2::init from per-view plate correspondences).
#ifndef CCAL_SINGLE_PLATE_BASED_ESTIMATE_H
#define CCAL_SINGLE_PLATE_BASED_ESTIMATE_H

#include <ccal/camera_calibration_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <vector>

// Calibrates a camera from the views with more than 9 correspondences (image point, plate point
// (x, y) on the plate's plane; weights are not used), and expresses it in the physical frame:
// - pose: the calibrated camera-from-plate transform of the first such view (the reference
//   view) composed with the inverse of that view's plate pose (plate -> physical);
// - intrinsics: the default model with the linear map inverted from the calibrated camera
//   matrix, distModel(model), and under eRadial / eSineTan the lens values and the centre of
//   expansion from the calibrated distortion list.
// platePoses[v] is the plate -> physical transform of plateViews[v].
// Throws tkInvariantFailure when platePoses and plateViews differ in length, and what
// tk2XformCalib2::init throws (no view with more than 9 correspondences, degenerate views,
// tkAttention::Aborted on an abort request).
tkCameraCalibrationParams tfPlateBasedCameraEstimate(
    tk2XformCalib2Defs::tkCalib2DistortionModel model,
    const std::vector<std::vector<tkCrspPairWeighted>>& plateViews,
    const std::vector<tkXform<3>>& platePoses);

#endif
