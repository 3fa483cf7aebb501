// End-to-end calibration of one area-scan camera from weighted 2D-3D correspondences.
#ifndef CCAL_SINGLE_CAMERA_CALIBRATION_H
#define CCAL_SINGLE_CAMERA_CALIBRATION_H

#include <ccal/camera_calibration_params.h>
#include <ccal/export.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <utility>
#include <vector>

// Calibrates one camera (intrinsic model under `model`, lens distortion and pose) from
// correspondences ((image point in pixels, physical point), weight) of all plates together, in
// physical (world) coordinates; the physical points must not all lie on one plane.
//
// The steps:
//   1. the physical frame is scaled so that the X and Y coordinates have a fixed spread;
//   2. a closed-form estimate on all points (tfCameraCalibrationParamsCoarse);
//   3. under eNoDistortion: the full refinement from it, and done; otherwise
//   4. the start of the lens distortion is searched on a subset of at most 333 points (a fixed
//      pseudo-random choice, the same on every run): short refinements (at most 50 iterations)
//      from the coarse pose with k = ±step (eRadial) or (p0, p1, p2, p3) = (±step, 1, ±step, 1)
//      (eSineTan), the step growing geometrically from 2e-7 times the focal length in pixels; the
//      candidate with the smallest image RMS on the subset wins;
//   5. when plateViews is not empty, a planar calibration of the views with more than 9 points
//      (tk2XformCalib2::init) competes with that candidate; platePoses[v] is the plate ->
//      physical transform of plateViews[v] (plate points (x, y) on the plate's plane Z = 0);
//   6. the full refinement (at most 300 iterations) on all points from the winner.
// Repeated calls with the same arguments give bit-identical results.
//
// Progress: one tkProgressTrackerBlock of weight 1.0, reporting nothing until it closes. In
// estimate-only mode the call reports 100·ln(10000)/ln(√1.4) (about 5474.65) units of work and
// returns without computing; result is then untouched.
//
// Abort (tkAttentionScope): every minimisation checks for a request before each trial step (and
// under eNoDistortion and eRadial in every evaluation) and ends at once. The driver checks before
// every stage and between the trials of the search; once it has seen a request it runs no further
// stage and goes on with what it has: result becomes the best model reached (the coarse estimate
// at the least, or a partial refinement) - except that it throws tkAttention::Aborted (result
// untouched) when plateViews is not empty (as the planar calibration would) or when no model
// exists yet (a request before the closed-form estimate). A request during the final refinement
// ends it, and result is the model it reached. The call returns within one step of the running
// refinement (a few milliseconds per thousand points) or of the closed-form estimate.
//
// Throws tkInvariantFailure when a coordinate or weight is not finite, a weight is negative, or
// platePoses and plateViews differ in length while plateViews is not empty; tkMathError::Singular
// for a degenerate closed-form estimate (an empty list, typically points on one plane); and what
// tk2XformCalib2::init and the procedural layer throw. No point counts are tested: fewer than six
// points give a meaningless model. result is assigned only at the end, after success.
CCAL_API void tfComputeCalibrationSingleCamera_internal(
    tk2XformCalib2Defs::tkCalib2DistortionModel model,
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
    const std::vector<std::vector<tkCrspPairWeighted>>& plateViews,
    const std::vector<tkXform<3>>& platePoses, tkCameraCalibrationParams& result);

#endif
