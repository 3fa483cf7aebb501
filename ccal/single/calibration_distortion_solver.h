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
// - eSineTan: numerical, with no abort check in F (the minimisation checks). F[i] = (J(x + h·eᵢ) −
// J(x − h·eᵢ)) / h, h = 1e-8,
//   where J(x) = Σ w·|p − invWarpPoint(P)|² is the image cost of the unpacked parameters. The 2n
//   costs are evaluated in one pass over the points, each point reusing the stages of its
//   projection that a parameter does not reach (a linear-map parameter only changes L⁻¹, a lens
//   parameter only the lens radius, and so on).
//
// Settings of the base solver: (n, n, 1e-12, 1e-30, 300, 15, 0.01, 1e-8, 1e20, true, false). The
// |F|² rule (1e-30) is in effect off: a bound of 1e-12 on the squared gradient in the normalised
// frames stopped exact data with the centre of expansion off by 1e-8 relative and sine-tangent
// mappings 1e-4 px from the optimum; the minimisation ends on the step rule, on no further
// decrease of the cost, or at the iteration limit.
//
// The minimisation (minimize, overridden) is a damped Newton iteration on F = 0 whose steps must
// lower the image cost J:
//   1. Jacobian K of F (compJacob); D = |diag K| (each entry at least 1e-15 times the largest).
//   2. Step δ from (K + λD)·δ = −F (LU with partial pivoting; a singular matrix rejects the step).
//   3. Accept when J(x + δ) < J(x) (false for non-finite values) and, under eSineTan, the decrease
//      is at least 1/4 of the decrease J − (½Fᵀδ + ¼δᵀKδ) predicted by the quadratic model: x
//      moves, λ /= 10 (not below 1e-15). Otherwise λ *= 10 and back to 2, at most 15 times per
//      iteration, λ ≤ 1e20.
//   λ starts at 0.01. Stopping rules, in order: |F|² ≤ 1e-30 (eSmallFunction); the iteration limit
//   (eIterationLimit); an abort request or a negative status of F (eFunctionStopped, x keeps the
//   last accepted value); |δ| ≤ 1e-12·(|x| + 1e-12) (eSmallStep, after that step's trial); no
//   accepted step within the λ limits (eNoDecrease). minimize() returns (1/2)|F|² at the end.
// Why not Levenberg-Marquardt on |F|²: F mixes two gradients and is not the gradient of one cost,
// and the normal equations KᵀK square the condition of K. In the curved valleys of these problems
// (a centre of expansion that barely matters while the lens is weak; nearly redundant sine-tangent
// lens values) full Newton steps lower the cost while |F|² rises a thousandfold, so the |F|² rule
// forces tiny steps and the iteration creeps. Steps solved from K itself and judged by the cost
// the driver ranks its candidates with take the valley in a few iterations; near the solution
// λ → 0 and the steps are Newton steps on F, so the result is still the root of F.
//
// Jacobian K: under eNoDistortion and eRadial the inherited forward differences of F. Under
// eSineTan the forward differences of a difference quotient lose the small curvatures of the
// nearly redundant lens values in rounding, so compJacob is the Gauss-Newton form
// K = 4·Σ w·(∂i/∂xᵢ)·(∂i/∂xⱼ) (i the image point, ∂i/∂xᵢ its central difference with step h), the
// Jacobian of F exactly where the residuals vanish, from the same single pass over the points as
// F (instead of n + 1 passes).
//
// Evaluations and iterations allocate nothing.
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
  // Step h of the sine-tangent difference quotients.
  static constexpr double kSineTanGradientStep = 1e-8;

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
  // The damped Newton iteration stated above.
  double minimize() override;
  // eSineTan: the Gauss-Newton form stated above (resizes jacobian to n x n); other models: the
  // inherited forward differences. Returns 0 or the negative status of F.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;

  // The parameter object of a column x (n x 1) under the stored unitValIndex.
  tkCameraCalibrationParams unpack(const tkNMMatrix& x) const;
  // J(x) = Σ w·|p − invWarpPoint(P)|² over the correspondences.
  double cost(const tkNMMatrix& x) const;

 private:
  long analyticGradient(const double* x, double* f) const;
  long numericalGradient(const double* x, double* f) const;
  // One pass over the points under x and its 2n perturbations: F into f and the Gauss-Newton
  // Jacobian (n x n, column-major) into jacobian, each when not null.
  void stagedPass(const double* x, double* f, double* jacobian) const;
  // Solves (K + λD)·δ = −F from jacobian(), f() and the scaling into step(); false when the
  // matrix is singular or δ not finite.
  bool dampedNewtonStep(double lambda);

  tk2XformCalib2Defs::tkCalib2DistortionModel model_;
  int unitValIndex_ = 0;
  tkCameraCalibrationParams initialParams_;
  Correspondences correspondences_;
  cstd_vector_ccal_crspPair2D3DWeighted records_;
  tkNMMatrix scaling_;  // D, n x 1
  tkNMMatrix lu_;       // K + λD and its LU factors, n x n
  std::vector<int> pivots_;
};

#endif
