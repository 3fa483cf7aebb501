// Refinement of an area-scan rig calibration on the image residuals themselves: all parameters
// (or, with the intrinsic models held, the camera and placement poses) move to the minimum of
//   E = Σ w·|π(P) − p|²
// over every correspondence (image point p in pixels, plate point P through its placement's pose
// and the camera, weight w from the correspondence: a point of weight 0 does not count), the
// maximum-likelihood fit under independent pixel noise of variance σ²/w. The calibrations of
// multicamera_calibration.h minimise errors measured in each camera's Z = 1 plane with frozen depth weights,
// which is close to, but not, this minimum; the refinement starts from their result.
//
// Covers every area-scan calibration of the rig entry points (multicamera_calibration.h): rig
// calibration with one camera or more (every lens model) and rig poses with known intrinsics.
// A single camera calibrated through the rig entry point with one camera is covered that way.
//
// Frames and data as in multicamera_calibration.h: placement 0 is the world frame; heights are
// data. The minimisation is Levenberg–Marquardt with the placements eliminated from each step
// (time and memory linear in the number of placements, apart from one parameters x parameters
// matrix); it only accepts steps that lower E, so E never rises above the start's. Abort requests (tkAttention) stop it at the last accepted point.
#ifndef CCAL_IMAGE_REFINEMENT_H
#define CCAL_IMAGE_REFINEMENT_H

#include <ccal/export.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/multicamera_calibration_params.h>

#include <vector>

struct tkImageRefinementOptions {
  // Whether the calibration overloads below refine (off: the calibrations as they are).
  bool enabled = false;
  long maxIterations = 100;  // >= 1
};

struct tkImageRefinementSummary {
  // √(Σw·|d|²/Σw) over every point of non-zero weight (pixels), at the start and at the end,
  // pooled and per camera.
  double rmsBefore = 0.0;
  double rmsAfter = 0.0;
  std::vector<double> rmsPerCamera;
  long iterations = 0;
  // True when the minimisation ended on a small step or a small decrease (false: iteration
  // limit, abort, or no step lowered E, which at a minimum is also the case).
  bool converged = false;
};

// Refines rig in place on the data it was calibrated from. intrinsicsFixed holds the intrinsic
// models (the rig-pose case). Throws tkInvariantFailure (rig unchanged) when the shapes of data
// and rig disagree (as tfCalibrateMultiplate... does), the first Z-rotation pose is not the
// identity, the cameras have different lens models, a weight is negative or not finite, no
// point has a non-zero weight, or maxIterations < 1; tkMathError::Singular for a non-finite
// rig value. rig is written only on success.
CCAL_API tkImageRefinementSummary tfRefineOnImageResiduals(
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, bool intrinsicsFixed,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
    const tkImageRefinementOptions& options = tkImageRefinementOptions());

// The rig calibration and the rig poses of multicamera_calibration.h (weighted overloads),
// followed by tfRefineOnImageResiduals when options.enabled. Throws as both.
CCAL_API void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkImageRefinementOptions& options,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);
CCAL_API void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkImageRefinementOptions& options,
    tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result);

#endif
