// The Levenberg-Marquardt solver of single-camera refinement: intrinsics, lens distortion and
// pose of one camera from weighted 2D-3D correspondences.
//
// The solver works in the frames its caller prepared (tfRefineCameraCalibration): normalised
// image coordinates and a physical frame scaled so that the camera sits at distance about 1.
// Its column x is the camera block of camera_param_packing.h (n = 11, 14 or 17 for
// eNoDistortion, eRadial, eSineTan), and F(x) has one entry per parameter: partial derivatives of
// the weighted squared reprojection error, which the minimisation drives to zero.
//
// - eNoDistortion, eRadial: analytic. Per correspondence with depth Pc.z not 0 (within 1e-15),
//   the intrinsic gradient term and the pose terms of crsp_gradient_terms.h; the pose entries
//   come from the point-ray accumulator through tfGetQuaternionPartialDerivatives with the
//   stored unitValIndex. An abort request (csys_attention_check) ends the evaluation with its
//   negative status, which ends the minimisation.
// - eSineTan: numerical, with no abort check. F[i] = (J(x + h·eᵢ) − J(x − h·eᵢ)) / h, h = 1e-8,
//   where J(x) = Σ w·|p − invWarpPoint(P)|² is the image cost of the unpacked parameters. The 2n
//   costs are evaluated in one pass over the points, each point reusing the stages of its
//   projection that a parameter does not reach (a linear-map parameter only changes L⁻¹, a lens
//   parameter only the lens radius, and so on).
//
// Settings of the base solver: (n, n, 1e-12, 1e-12, 300, 15, 0.01, 1e-8, 1e20, true, false);
// the Jacobian of F is the inherited forward-difference compJacob. Evaluations allocate nothing.
// Use: construct, unitValIndex, setX, initialParams, correspondences, nIter, minimize, getX.
#ifndef CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H
#define CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H

#include "ccal/single/camera_param_packing.h"

#include <ccal/camera_calibration_params.h>
#include <proc/cstd_vector.h>
#include <tk/levmar_solve.h>
#include <tk/nm_matrix.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <utility>
#include <vector>

class tk3DCalibrationDistortionSolver : public tkLevMarSolve {
 public:
  using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

  // A solver for the camera block of model. Throws tkInvariantFailure for a model other than
  // eNoDistortion, eRadial and eSineTan (after reporting a failed internal assertion), and what
  // tfThrowExceptionOnFailure raises when the procedural vector cannot be made.
  explicit tk3DCalibrationDistortionSolver(tk2XformCalib2Defs::tkCalib2DistortionModel model);
  ~tk3DCalibrationDistortionSolver() override;

  tk2XformCalib2Defs::tkCalib2DistortionModel distModel() const { return model_; }
  // The held component of the pose quaternion for the whole minimisation (0 = a ... 3 = d).
  int unitValIndex() const { return unitValIndex_; }
  void unitValIndex(int index) { unitValIndex_ = index; }
  // The starting parameters (kept for reference; the start of minimize() is getX()).
  const tkCameraCalibrationParams& initialParams() const { return initialParams_; }
  void initialParams(const tkCameraCalibrationParams& params) { initialParams_ = params; }
  // Copies the correspondences ((image point, physical point), weight) into the solver, also as
  // procedural records. Throws what tfThrowExceptionOnFailure raises when the records cannot be
  // allocated.
  void correspondences(const Correspondences& list);
  const Correspondences& correspondences() const { return correspondences_; }

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;

  // The parameter object of a column x (n x 1) under the stored unitValIndex.
  tkCameraCalibrationParams unpack(const tkNMMatrix& x) const;
  // J(x) = Σ w·|p − invWarpPoint(P)|² over the correspondences.
  double cost(const tkNMMatrix& x) const;

 private:
  long analyticGradient(const double* x, double* f) const;
  long numericalGradient(const double* x, double* f) const;

  tk2XformCalib2Defs::tkCalib2DistortionModel model_;
  int unitValIndex_ = 0;
  tkCameraCalibrationParams initialParams_;
  Correspondences correspondences_;
  cstd_vector_ccal_crspPair2D3DWeighted records_;
};

#endif
