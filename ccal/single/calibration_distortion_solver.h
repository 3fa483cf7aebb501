// The Levenberg-Marquardt solver of single-camera refinement: intrinsics, lens distortion and
// pose of one camera from weighted 2D-3D correspondences.
//
// The solver works in the frames its caller prepared (tfRefineCameraCalibration): normalised
// image coordinates and a physical frame scaled so that the camera sits at distance about 1.
// Its column x is the single-camera layout of ccal/problem/parameter_layout.h (n = 11, 14 or 17 for
// eNoDistortion, eRadial, eSineTan), and F(x) has one entry per parameter: partial derivatives of
// the weighted squared reprojection error, which the minimisation drives to zero.
//
// F, its Jacobian K and the merit come from one residual block over all correspondences, the
// list residual of the multi-plate problems (ccal/problem/multiplate_residuals.h) for one camera
// in the world frame, assembled by ccal/problem/gradient_assembler.h in one pass over the points
// per evaluated x:
// - eNoDistortion, eRadial: F = 2·Σ J_feedᵀ·w·r with the intrinsic rows fed by the intrinsic-term
//   residual and the pose rows by the pose-term residual (the gradient of the error at Z = 1 with
//   the points' positions, the back-projected image points and the depths held); an abort
//   request (csys_attention_check) ends the evaluation with its negative status, which ends the
//   minimisation.
// - eSineTan: F = 4·Σ Jᵀ·w·r of the image residual, the analytic gradient 2·∇J of the image cost
//   J(x) = Σ w·|p − invWarpPoint(P)|², which the difference quotient (J(x + h·eᵢ) − J(x − h·eᵢ))/h
//   with h = 1e-8 approximates (the two differ by the quotient's own error: about 2e-8 of the
//   largest entry in the solver's frames; docs/single-camera-calibration.md).
// K is the Gauss–Newton product 2·Σ J_feedᵀ·w·J from the same pass (under eSineTan 4·Σ Jᵀ·w·J,
// from the step's QR factor, below): the Jacobian of F wherever the residuals vanish, and close
// to it on noisy data. Func computes F, K and J together and keeps them for its x, so that the
// merit of a trial and the Jacobian at an accepted trial cost no further pass.
//
// Settings of the base solver: (n, n, 1e-12, 1e-30, 300, 15, 0.01, 1e-8, 1e20, true, false). The
// |F|² rule (1e-30) is in effect off: a bound of 1e-12 on the squared gradient in the normalised
// frames stops one Newton step short, even with the exact K: the exact sets then end with
// largest residuals of 8e-7 px (eNoDistortion) and 1e-6 px (eSineTan) instead of the 7e-10 px of
// their rounding; the minimisation ends on the step rule, on no further decrease of the cost, or
// at the iteration limit.
//
// The minimisation is tkDampedNewtonSolve's (tk/damped_newton_solve.h) with the image cost J as
// its merit: steps from (K + λD)·δ = −F must lower J and, under eSineTan, achieve 1/4 of the
// decrease the quadratic model predicts; an abort request ends it with eFunctionStopped. An
// accepted step that lowers J by no more than kFlatMerit (1e-6) of its value ends it too
// (meritTolerance), as does a rejected one that lands within that band above J: on noisy data F
// is not exactly 2∇J (mixed terms; rounding in the flat sine-tangent valley), and past J's
// minimum the iteration would creep on for the rest of its iterations with every other trial
// rejected. Under eSineTan the full refinement of a noisy set crept on for 110 of its 118
// iterations at about 1.2e-8 of J per step, moving the RMS error by 7e-7 of its value: the
// band ends it there, with the RMS error the same to six digits.
// Why not Levenberg-Marquardt on |F|²: F mixes two gradients and is not the gradient of one cost,
// and the normal equations KᵀK square the condition of K. In the curved valleys of these problems
// (a centre of expansion that barely matters while the lens is weak; nearly redundant sine-tangent
// lens values) full Newton steps lower the cost while |F|² rises a thousandfold, so the |F|² rule
// forces tiny steps and the iteration creeps. Steps solved from K itself and judged by the cost
// the driver ranks its candidates with take the valley in a few iterations; near the solution
// λ → 0 and the steps are Newton steps on F, so the result is still the root of F.
//
// Under eSineTan the step is solved as the damped least-squares problem
// min |A·δ + r|² + ¼·δᵀ·λD·δ (A = √w·∂image/∂x, r the weighted residuals, K = 4·AᵀA, F = 4·Aᵀr)
// through a QR factor of A, once per iteration, and one of the small stacked matrix [R; √(λD/4)]
// per damping: the normal equations square the condition of A (about 1e10 along the nearly
// redundant lens values), and their rounding error would decide the step there. Each step is
// bent by its geodesic acceleration (solveDampedStep), and after an accepted step λ falls only
// as far as that step's bend allows (dampingDecrease). There K (read only for the damping's
// scale and the predicted decrease) is 4·RᵀR from that factor: the passes compute F and J
// without it.
// Every trial point is then projected (adjustTrial, variable projection): the image is affine in
// p0 and p2 (image = L⁻¹(c + u·(p0·tan(θ/p1) + p2·sin(θ/p3)))), so for the other values of the
// trial the two have one best pair, which a 2 x 2 weighted least-squares solve from one pass
// gives, and the trial is judged there. The lens values' valley is curved mainly through these
// two: a straight step in all values leaves it, while a step in the others followed by the
// best p0 and p2 stays on its floor. Without the projection the distortion search's refinements
// crept through all their 50 iterations at a relative decrease of 1e-5 per step (about 2,850
// iterations on the noisy set); with it they converge, and the search ends after a few
// refinements (docs/single-camera-calibration.md).
//
// Evaluations and iterations allocate nothing.
// Use: construct, unitValIndex, setX, initialParams, correspondences, nIter, minimize, getX.
#ifndef CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H
#define CCAL_SINGLE_CALIBRATION_DISTORTION_SOLVER_H

#include "ccal/problem/gradient_assembler.h"
#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/multiplate_residuals.h"

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
  using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

  // The relative decrease of J that ends the minimisation (meritTolerance), set by the
  // constructor.
  static constexpr double kFlatMerit = 1e-6;

  // A solver for the camera block of model. Throws tkInvariantFailure for a model other than
  // eNoDistortion, eRadial and eSineTan (after reporting a failed internal assertion), and what
  // tfThrowExceptionOnFailure raises when the procedural vector cannot be made.
  explicit tk3DCalibrationDistortionSolver(tk2XformCalib2Defs::tkCalib2DistortionModel model);
  ~tk3DCalibrationDistortionSolver() override;

  tk2XformCalib2Defs::tkCalib2DistortionModel distModel() const { return problem_.layout.model(); }
  // The held component of the pose quaternion for the whole minimisation (0 = a ... 3 = d).
  int unitValIndex() const { return problem_.layout.cameraUnitValIndices()[0]; }
  void unitValIndex(int index) {
    problem_.layout.cameraUnitValIndices({index});
    pass_.valid = false;
    merit_.valid = false;
  }
  // The starting parameters (kept for reference; the start of minimize() is getX()).
  const tkCameraCalibrationParams& initialParams() const { return initialParams_; }
  void initialParams(const tkCameraCalibrationParams& params) { initialParams_ = params; }
  // Copies the correspondences ((image point, physical point), weight) into the solver, also as
  // procedural records. Throws what tfThrowExceptionOnFailure raises when the records cannot be
  // allocated.
  void correspondences(const Correspondences& list);
  const Correspondences& correspondences() const { return correspondences_; }

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  // K at x (resizes jacobian to n x n): the one kept from Func when x is the last x it evaluated,
  // else from a new pass. Returns 0 or the negative status of F.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;
  // The parameter object of a column x (n x 1) under the stored unitValIndex.
  tkCameraCalibrationParams unpack(const tkNMMatrix& x) const;
  // J(x) = Σ w·|p − invWarpPoint(P)|² over the correspondences.
  double cost(const tkNMMatrix& x) const;

 private:
  // F, K and J at x, kept with x. Returns 0 or (checkAbort, eNoDistortion/eRadial) the negative
  // status of the abort check. Throws tkInvariantFailure before correspondences were given.
  long evaluatePass(const double* x, bool checkAbort) const;
  // eSineTan: F and J at x from one evaluation of the image rows, which also fills
  // tk_SineTanLeastSquares::trialRows and trialA.
  void evaluateImageRows(const double* x) const;
  bool passHolds(const double* x) const;
  double merit(const tkNMMatrix& x) const override { return cost(x); }
  // eSineTan: the damped least-squares form of the step (above); other models: the inherited LU.
  bool solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) override;
  // eSineTan: p0 and p2 of the trial point x (n values) replaced by the values that minimise J
  // with the other values held (above); other models leave x.
  void adjustTrial(double* x) override;
  // eSineTan: after an accepted step λ falls by less than tenfold when the step bent by more
  // than a twentieth (solveDampedStep); other models: the usual tenfold.
  double dampingDecrease(double usual) const override;

  // The last pass: its x, F, K and J (under eSineTan also its weighted residuals and their
  // derivatives in tk_SineTanLeastSquares::trialRows, trialA).
  struct Pass {
    explicit Pass(long n)
        : x(static_cast<std::size_t>(n)), f(static_cast<std::size_t>(n)), k(n, n) {}
    bool valid = false;
    std::vector<double> x, f;
    tkNMMatrix k;
    double cost = 0.0;
  };

  // eNoDistortion/eRadial: J alone at the last trial point whose merit was asked for before its
  // F (the image rows only); a pass at the same x then evaluates the gradient terms only.
  struct Merit {
    explicit Merit(long n) : x(static_cast<std::size_t>(n)) {}
    bool valid = false;
    std::vector<double> x;
    double cost = 0.0;
  };
  bool meritHolds(const double* x) const;

  // The single-camera layout (holds the unitValIndex) and the one list of correspondences.
  tk_MultiplateProblem problem_;
  mutable Pass pass_;
  mutable Merit merit_;
  tkCameraCalibrationParams initialParams_;
  Correspondences correspondences_;
  cstd_vector_ccal_crspPair2D3DWeighted records_;
  // Mixed terms and image rows (eNoDistortion/eRadial) or the image rows (eSineTan).
  std::unique_ptr<ccal::detail::MultiplateListResidual> block_;
  std::unique_ptr<ccal::detail::GradientAssembler> assembler_;  // eNoDistortion/eRadial
  std::unique_ptr<tk_SineTanLeastSquares> leastSquares_;        // eSineTan only
  // eSineTan: the bend 2·|a|/|v| of the last solved step (0 when it was not measured).
  double bend_ = 0.0;
};

#endif
