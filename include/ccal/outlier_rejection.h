// Outlier rejection by weights around an area-scan rig solve: the solve is repeated with weight 0
// on the points that do not fit, until the set of points it uses no longer changes.
//
// Residuals. After each solve every point with a positive weight w has the image residual
// d = p − projection (pixels; projection through the solved rig, as
// tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams::invWarpPoint) and the
// normalised residual r = √w · d, so that a weight read as an inverse variance makes every point
// comparable. σ is the RMS of the inliers' normalised residual per coordinate:
// σ² = Σ_inliers w (dx² + dy²) / (2 · inlier count).
//
// The rule (that of mrcal). With T = triggerSigmas and R = rejectSigmas:
//   - when some inlier has |rx| or |ry| > T·σ, the inliers become every point whose |rx| and |ry|
//     are both <= R·σ (points rejected earlier included: they come back when they fit again);
//   - otherwise rejected points with |rx| and |ry| <= R·σ come back and no inlier leaves;
//   - a view (one camera's list of one placement) that lost points and keeps fewer than
//     minInliersPerView of them is dropped: all its points get weight 0 and it is reported;
//   - the solve is repeated with the new weights while the inlier set changes, at most maxRounds
//     times (the cap breaks any cycle; the result says whether it was reached).
// Points the caller gave weight 0 are never inliers and never counted as rejected. Clean data
// (no inlier beyond T·σ after the first solve) is solved exactly once, with the caller's weights.
//
// The caller's data are never modified: the solve receives copies whose weights are the caller's
// (inliers) or 0 (rejected points and dropped views).
#ifndef CCAL_OUTLIER_REJECTION_H
#define CCAL_OUTLIER_REJECTION_H

#include <ccal/export.h>
#include <ccal/image_refinement.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/multicamera_calibration_params.h>

#include <cstddef>
#include <functional>
#include <vector>

struct tkOutlierRejectionOptions {
  double triggerSigmas = 5.0;  // T: a round rejects only while some inlier exceeds T·σ
  double rejectSigmas = 4.0;   // R: the points kept are those within R·σ; 0 < R <= T
  int maxRounds = 20;          // solves after the first, at least 1
  // A view that lost points keeps its pose only with at least this many inliers (the rig
  // calibration starts each camera from views of more than 9 points).
  std::size_t minInliersPerView = 10;
};

// One camera's list of one placement.
struct tkOutlierRejectionView {
  std::size_t points = 0;   // points with a positive weight from the caller
  std::size_t inliers = 0;  // of those, the points the final solve used
  bool dropped = false;     // too few inliers were left: the final solve used none of them
};

struct tkOutlierRejectionResult {
  // The final solve (with the final weights).
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rig;
  // [placement][camera][point], in the input's order: true when the final solve used the point
  // with the caller's weight.
  std::vector<std::vector<std::vector<bool>>> zRotationInliers, arbitraryInliers;
  // [placement][camera].
  std::vector<std::vector<tkOutlierRejectionView>> zRotationViews, arbitraryViews;
  std::size_t rejected = 0;  // points with a positive caller weight that are not inliers
  int rounds = 0;            // solves after the first
  bool capped = false;       // maxRounds stopped the loop while the inlier set still changed
  double sigma = 0.0;        // σ of the final solve's inliers (normalised pixels, per coordinate)
  // Per camera, pixels, with the caller's weights: √(Σw·|d|²/Σw) over the inliers and over every
  // point with a positive weight (0 when there is none).
  std::vector<double> inlierRms, allRms;
  double inlierRmsPooled = 0.0, allRmsPooled = 0.0;
};

// The solve the rejection repeats: weighted placements in, a rig parameter set out (holding one
// intrinsic model and one pose per camera and one pose per placement, or the solve failed).
using tkRigSolve = std::function<void(
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result)>;

// The weighted rig calibration (tfCalibrateMultiplateMulticameraZRotationAndArbitrary) with one
// distortion model, followed by the refinement on image residuals when refinement.enabled
// (image_refinement.h; the points of weight 0 take no part in it either).
CCAL_API tkRigSolve tfRigCalibrationSolve(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkImageRefinementOptions& refinement = tkImageRefinementOptions());
// The weighted rig pose estimation (tfCameraPoseMultiplateMulticameraZRotationAndArbitrary) with
// these intrinsic models (copied), refined as above when refinement.enabled.
CCAL_API tkRigSolve
tfRigPoseSolve(const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
               const tkImageRefinementOptions& refinement = tkImageRefinementOptions());

// Runs solve under the rule above. Placements as for the weighted rig calibration.
// Throws tkInvariantFailure for options outside their ranges, placements without one list per
// camera, or a weight that is negative or not finite; tk_MulticameraCalibrationDefs::
// TooFewCorrespondences when no point has a positive weight or when rejection leaves some camera
// that had points without any inlier; tk_MulticameraCalibrationDefs::BadParams when the solve
// returns a parameter set of the wrong shape or a non-finite projection of an inlier. Exceptions
// of solve pass through. Nothing is returned on failure.
CCAL_API tkOutlierRejectionResult tfRejectOutliers(
    const tkRigSolve& solve, const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkOutlierRejectionOptions& options = tkOutlierRejectionOptions());

#endif
