// The Levenberg-Marquardt solver of single-camera refinement: intrinsics, lens distortion and
// pose of one camera from weighted 2D-3D correspondences.
//
// The solver works in the frames its caller prepared (tfRefineCameraCalibration): normalised
// image coordinates and a physical frame scaled so that the camera sits at distance about 1.
// Its column x is the single-camera layout of ccal/problem/parameter_layout.h (n = 11, 14 or 17 for
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
// The minimisation is tkDampedNewtonSolve's (tk/damped_newton_solve.h) with the image cost J as
// its merit: steps from (K + λD)·δ = −F must lower J and, under eSineTan, achieve 1/4 of the
// decrease the quadratic model predicts; an abort request ends it with eFunctionStopped.
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
// F (instead of n + 1 passes). The step is then solved as the damped least-squares problem
// min |A·δ + r|² + ¼·δᵀ·λD·δ (A the weighted derivatives of the image points, r the weighted
// residuals, K = 4·AᵀA, F = 4·Aᵀr) through a QR factor of A, once per iteration, and one of the
// small stacked matrix [R; √(λD/4)] per damping: the normal equations square the condition of A,
// and along the nearly redundant lens values their rounding error decides the step.
//
// Evaluations and iterations allocate nothing.
// Use: construct, unitValIndex, setX, initialParams, correspondences, nIter, minimize, getX.
#ifndef CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H
#define CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H

#include "ccal/problem/parameter_layout.h"

#include <ccal/camera_calibration_params.h>
#include <proc/cstd_vector.h>
#include <tk/damped_newton_solve.h>
#include <tk/nm_matrix.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <memory>
#include <utility>
#include <vector>

struct tk_SineTanLeastSquares;

class tk3DCalibrationDistortionSolver : public tkDampedNewtonSolve {
 public:
  // Step h of the sine-tangent difference quotients.
  static constexpr double kSineTanGradientStep = 1e-8;
  // Step of the central differences of the image points in the Jacobian and the least-squares
  // step: about ε^(1/3), where truncation (h²) and rounding (ε/h) errors balance near 1e-11.
  // With the gradient's 1e-8 the derivatives would carry errors near 1e-8, which drown the
  // weakest directions of the sine-tangent lens values (condition about 1e10).
  static constexpr double kSineTanJacobianStep = 5e-6;

  using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

  // A solver for the camera block of model. Throws tkInvariantFailure for a model other than
  // eNoDistortion, eRadial and eSineTan (after reporting a failed internal assertion), and what
  // tfThrowExceptionOnFailure raises when the procedural vector cannot be made.
  explicit tk3DCalibrationDistortionSolver(tk2XformCalib2Defs::tkCalib2DistortionModel model);
  ~tk3DCalibrationDistortionSolver() override;

  tk2XformCalib2Defs::tkCalib2DistortionModel distModel() const { return layout_.model(); }
  // The held component of the pose quaternion for the whole minimisation (0 = a ... 3 = d).
  int unitValIndex() const { return layout_.cameraUnitValIndices()[0]; }
  void unitValIndex(int index) { layout_.cameraUnitValIndices({index}); }
  // The starting parameters (kept for reference; the start of minimize() is getX()).
  const tkCameraCalibrationParams& initialParams() const { return initialParams_; }
  void initialParams(const tkCameraCalibrationParams& params) { initialParams_ = params; }
  // Copies the correspondences ((image point, physical point), weight) into the solver, also as
  // procedural records. Throws what tfThrowExceptionOnFailure raises when the records cannot be
  // allocated.
  void correspondences(const Correspondences& list);
  const Correspondences& correspondences() const { return correspondences_; }

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
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
  // With the Jacobian also the weighted image-point derivatives A and residuals r of the least-
  // squares step (K = 4·AᵀA, F = 4·Aᵀr up to rounding), and A's QR factor.
  // h: the step of the differences (kSineTanGradientStep for F, kSineTanJacobianStep for K).
  void stagedPass(const double* x, double* f, double* jacobian, double h) const;
  double merit(const tkNMMatrix& x) const override { return cost(x); }
  // eSineTan: the damped least-squares form of the step (below); other models: the inherited LU.
  bool solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) override;

  ccal::detail::ParameterLayout layout_;  // the single-camera option; holds the unitValIndex
  tkCameraCalibrationParams initialParams_;
  Correspondences correspondences_;
  cstd_vector_ccal_crspPair2D3DWeighted records_;
  std::unique_ptr<tk_SineTanLeastSquares> leastSquares_;  // eSineTan only
};

#endif
