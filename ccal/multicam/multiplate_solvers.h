// The Levenberg-Marquardt solvers of multi-plate calibration: one camera with the placements it
// saw, a rig of cameras with all placements, and the poses of a rig with fixed intrinsics.
//
// Parameter layout: ccal/problem/parameter_layout.h (camera blocks of 11, 14 or 17 values for
// eNoDistortion, eRadial, eSineTan, of 6 for the pose solver; three values per Z-rotation
// placement from placement 1 on; six per arbitrary placement); F, K and the image cost: the
// residual blocks of multiplate_residuals.h. The distortion model is that of camera 0's starting intrinsic model and
// applies to every camera. Quaternions enter through the three-value form with the unitValIndex
// stored at packing time (setters below), kept for the whole minimisation.
//
// Use, in this order: cameraUnitValIndices, arbitraryUnitValIndices, setX(x0), startingParams,
// zRotationData, arbitraryData, recomputeYVals(ParameterLayout::blockStartFlags());
// minimize(); getX() and unpack. The solvers hold copies of all data. FuncI never throws: any
// exception becomes the status 0x80000000, which ends the minimisation. A solver object is used
// by one thread at a time (FuncI reuses a work space; after the first evaluation FuncI, compJacob
// and cost allocate nothing).
//
// Jacobian structure: once the layout is complete (data, starting parameters and x of size N)
// the solvers declare it (tkFSolver::jacobianStructure): one block per camera and per
// placement; a placement's block reaches its own rows and those of the cameras with a non-empty
// list in it, a camera's block its own rows and those of the placements it saw. Placements are
// eliminated, so an iteration costs time linear in the number of placements.
//
// Minimisation: tkDampedNewtonSolve (tk/damped_newton_solve.h) with the image cost E as merit:
// steps from (K + λ·|diag K|)·δ = −F, K the Gauss-Newton Jacobian of F from the same residual
// blocks, must lower E, and the placements are eliminated from the step. Settings (tkLevMarSolve
// order): (N, N, 1e-12, 1e-30, maxIterations, 15, 0.01, 1e-8, 1e20, true, true) with
// maxIterations 300 for one camera and 200 for a rig. Merit tolerance: 1e-5 (F's pose terms
// measure errors at Z = 1, so on noisy data its root and E's minimum differ slightly, and once E
// has settled Newton steps overshoot it and damped ones only creep between the two, changing E
// in its ninth digit); 1e-3 under eSineTan, whose
// steps creep along the lens-value valley (docs/rig-calibration.md), and 1e-2 for the one-camera
// solver under eSineTan, whose result the rig solver always refines again. The |F|² rule (1e-30) is in
// effect off. Under eSineTan (calibration, not the pose solver) minimize() ends with the
// Gauss–Newton polishing of ccal/problem/valley_polish.h, which follows that valley on exact
// data and leaves noisy fits as they are.
#ifndef CCAL_MULTICAM_MULTIPLATE_SOLVERS_H
#define CCAL_MULTICAM_MULTIPLATE_SOLVERS_H

#include "ccal/multicam/multiplate_data.h"
#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/multiplate_residuals.h"

#include <ccal/multicamera_calibration_params.h>
#include <proc/cstd_vector.h>
#include <tk/damped_newton_solve.h>
#include <tk/nm_matrix.h>

#include <vector>

// The rig parameters of unpacked values (Z-rotation angles from their tan(θ/2) values; placement
// 0 the identity).
tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfRigFromValues(
    const tk_MultiplateValues& values);

// The joint solver of a rig.
class tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver : public tkDampedNewtonSolve {
 public:
  // n = N of the layout. Throws tkInvariantFailure for n < 1 and what tfThrowExceptionOnFailure
  // raises when the procedural containers cannot be made.
  explicit tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(long n);
  ~tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver() override;

  void cameraUnitValIndices(const std::vector<int>& indices);
  void arbitraryUnitValIndices(const std::vector<int>& indices);
  // Supplies the distortion model (camera 0's) and the number of cameras.
  void startingParams(const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& p);
  const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& startingParams()
      const {
    return start_;
  }
  void zRotationData(const tk_ZRotationData& data);
  void arbitraryData(const tk_ArbitraryData& data);

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override;
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  // The Gauss-Newton K of the residual blocks (multiplate_residuals.h), declared blocks only.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;
  // The damped Newton minimisation; under eSineTan (calibration) followed by the Gauss–Newton
  // polishing of multiplate_least_squares.h.
  double minimize() override;

  // The parameters of x (heights from the Z-rotation data). Throws tkMathError::Singular for a
  // non-finite quaternion value.
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams unpack(
      const tkNMMatrix& x) const;
  // The image cost E at x.
  double cost(const tkNMMatrix& x) const;
  const tk_MultiplateProblem& problem() const { return problem_; }

 protected:
  double merit(const tkNMMatrix& x) const override { return cost(x); }
  // poseOnly: camera blocks of six pose values, intrinsic models held at the starting ones.
  tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(long n, bool poseOnly);

 private:
  void refreshProblem();

  bool poseOnly_;
  tk_ZRotationData zData_;
  tk_ArbitraryData aData_;
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams start_;
  std::vector<int> cameraIndices_;
  std::vector<int> arbitraryIndices_;
  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted zRecords_;
  cstd_vectord heights_;
  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted aRecords_;
  tk_MultiplateProblem problem_;
  mutable ccal::detail::MultiplateEvaluation evaluation_;  // of FuncI, compJacob and cost
};

// The solver of one camera with its placements.
class tk3DCalibrationMultiplateZRotationAndArbitrarySolver : public tkDampedNewtonSolve {
 public:
  explicit tk3DCalibrationMultiplateZRotationAndArbitrarySolver(long n);
  ~tk3DCalibrationMultiplateZRotationAndArbitrarySolver() override;

  void cameraUnitValIndex(int index);
  void arbitraryUnitValIndices(const std::vector<int>& indices);
  void startingParams(const tk_MultiplateCameraEstimate& estimate);
  const tk_MultiplateCameraEstimate& startingParams() const { return start_; }
  void zRotationData(const tk_ZRotationData1& data);
  void arbitraryData(const tk_ArbitraryData1& data);

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override;
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  // As the rig solver's.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;
  double minimize() override;

  tk_MultiplateCameraEstimate unpack(const tkNMMatrix& x) const;
  double cost(const tkNMMatrix& x) const;
  const tk_MultiplateProblem& problem() const { return problem_; }

 protected:
  double merit(const tkNMMatrix& x) const override { return cost(x); }

 private:
  void refreshProblem();

  tk_ZRotationData1 zData_;
  tk_ArbitraryData1 aData_;
  tk_MultiplateCameraEstimate start_;
  int cameraIndex_ = 0;
  std::vector<int> arbitraryIndices_;
  cstd_vector_vector_ccal_crspPair2D3DWeighted zRecords_;
  cstd_vectord heights_;
  cstd_vector_vector_ccal_crspPair2D3DWeighted aRecords_;
  tk_MultiplateProblem problem_;
  mutable ccal::detail::MultiplateEvaluation evaluation_;  // of FuncI, compJacob and cost
};

// The poses of a rig whose intrinsic models (those of the starting parameters) are fixed: the rig
// solver with camera blocks of six values; always the analytic gradient. unpack() returns the
// starting intrinsic models unchanged.
class tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver
    : public tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver {
 public:
  explicit tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver(long n)
      : tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(n, true) {}
};

#endif
