// The single-camera refinement routine behind tfRefineCameraCalibrationParams, with the
// iteration limit as an argument (the calibration driver runs short refinements of 50
// iterations in its distortion search).
#ifndef CCAL_SINGLE_CAMERA_REFINEMENT_H
#define CCAL_SINGLE_CAMERA_REFINEMENT_H

#include "ccal/single/calibration_distortion_solver.h"

#include <ccal/camera_calibration_params.h>
#include <tk/fsolver.h>
#include <tk/vector.h>

#include <utility>
#include <vector>

// What the minimisation of one refinement did.
struct tk_RefinementReport {
  tkFSolver::Termination termination = tkFSolver::eNotRun;
  long iterations = 0;
  double finalCost = 0.0;  // (1/2)|F|² at the result, in the solver's normalised frames
};

// Refines initial on the weighted correspondences with at most maxIterations iterations:
//   1. s = 1/|t| (1 when t = 0) for the initial pose translation t; the start pose gets t·s;
//   2. the image normalisation N of the image points (image_normalisation.h);
//   3. the start intrinsic model is initial's mapRight(N⁻¹);
//   4. each correspondence becomes (N(p), s·P, w);
//   5. tk3DCalibrationDistortionSolver from the packed start;
//   6. the solution with pose translation / s and intrinsic model mapRight(N).
// flatMerit, in [0, 1): an accepted step that lowers the image cost by no more than this share of
// it ends the minimisation (tkDampedNewtonSolve::meritTolerance; the default is the solver's own,
// as in tfRefineCameraCalibrationParams). floorRms >= 0: an accepted step that brings the weighted
// RMS image error in the normalised frame of step 2 to it or below ends the minimisation
// (tkDampedNewtonSolve::meritFloor; 0: off). report, when not null, receives the minimisation's
// outcome. Throws as tfRefineCameraCalibrationParams, and tkInvariantFailure for flatMerit
// outside [0, 1).
// Throws tkInvariantFailure, naming function and the index, for a correspondence with a
// coordinate or weight that is not finite or a negative weight.
void tfCheckWeightedCorrespondences(
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
    const char* function);

tkCameraCalibrationParams tfRefineCameraCalibration(
    const std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>& correspondences,
    const tkCameraCalibrationParams& initial, long maxIterations,
    double flatMerit = tk3DCalibrationDistortionSolver::kFlatMerit, double floorRms = 0.0,
    tk_RefinementReport* report = nullptr);

#endif
