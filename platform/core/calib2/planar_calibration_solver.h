// Internal: the joint least-squares refinement of a planar multi-view calibration: one
// camera's intrinsics, its lens model and the pose of every view, on the image residual.
//
// Parameter column x (n values), in this order:
//   linear map  eFull: scaleX, scaleY, skew, transX, transY
//               eZeroSkew: scaleX, scaleY, transX, transY (skew held at its start value)
//               eSquareCentred: one scale f = scaleX = scaleY (skew, transX, transY held)
//   lens        radial: k, centreX, centreY
//               sine-tangent: p1, p2, p3, centreX, centreY, with p0 = p1 (1 - p2 / p3) so that
//               p0 / p1 + p2 / p3 = 1: the slope of the lens radius at the axis is 1 and the
//               focal length lives in the linear map alone (the scale shared by K and the lens
//               radius is otherwise a redundant direction of the problem)
//               (p3 is left out, i.e. held, when holdSineTanP3 is set)
//               no distortion: nothing
//   view v      the six values of the quaternion form of camera_model/pose.h (camera from
//               plate), its held index chosen per view from the start pose
// Residuals r (2N values): for every point, projection of its plate point minus its image point,
// x then y, in the caller's image units. The solver works on their gradient, F = 2·Jᵀr (m = n),
// with the analytic Gauss-Newton Jacobian K = 2·JᵀJ and the sum of squared residuals as merit:
// tkDampedNewtonSolve's step (K + λ·diag K)·δ = −F is then the Levenberg-Marquardt step of the
// residuals, and memory grows with n² instead of with N·n.
#ifndef TK_CORE_CALIB2_PLANAR_CALIBRATION_SOLVER_H
#define TK_CORE_CALIB2_PLANAR_CALIBRATION_SOLVER_H

#include <tk/damped_newton_solve.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include "platform/core/calib2/camera_intrinsics.h"
#include "platform/core/calib2/intrinsics_closed_form.h"
#include "platform/core/camera_model/pose.h"

#include <Eigen/Core>

#include <vector>

// One point of a view: its image point and its plate point (X, Y) on the plate plane Z = 0.
struct tk_PlanarObservation {
  tkVector<2> image;
  tkVector<2> plate;
};

class tk_PlanarCalibrationSolver : public tkDampedNewtonSolve {
 public:
  // views: the observations of each view (the solver keeps a reference; they must outlive it).
  // start: the camera to start from (its model selects the lens block); freedom: which values
  // of the linear map are free (eNominal counts as eSquareCentred). starts: one camera-from-
  // plate pose per view. holdSineTanP3: keep p3 at its start value (sine-tangent model only).
  // Throws tkInvariantFailure for an unknown model, when there are fewer function values than
  // parameters or when the sizes do not match.
  tk_PlanarCalibrationSolver(const std::vector<std::vector<tk_PlanarObservation>>& views,
                             const tk_CameraIntrinsics& start, tk_IntrinsicsFreedom freedom,
                             bool holdSineTanP3, const std::vector<tkXform<3>>& starts,
                             long maxIterations);

  // Number of parameters for a model and freedom with nViews views (-1 for an unknown model).
  static long parameterCount(int32_t model, tk_IntrinsicsFreedom freedom, bool holdSineTanP3,
                             std::size_t nViews);

  // The camera and the poses of getX() (the start until minimize() has run).
  tk_CameraIntrinsics camera() const { return cameraOf(getX().data()); }
  tkXform<3> pose(std::size_t view) const;

  // F = 2·Jᵀr, the gradient of the sum of squared residuals r (J the residuals' Jacobian).
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  // K = 2·JᵀJ, the Gauss-Newton form of F's Jacobian (exact where the residuals vanish), so that
  // the damped Newton step (K + λ·diag K)·δ = −F is the Levenberg-Marquardt step of the
  // residuals. The solver declares its block structure (intrinsics shared, view poses
  // eliminated), so only the declared blocks are written: the other entries of jacobian must be
  // zero on entry, as they are in the solver's own buffer.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;

 protected:
  // The sum of squared residuals (NaN when a point cannot be projected).
  double merit(const tkNMMatrix& x) const override;

 private:
  // Declares the Jacobian's block structure (tkFSolver::jacobianStructure).
  void declareStructure();
  // F (n values) and K (n x n, declared blocks only) at x, each when not null. A point that
  // cannot be projected makes F non-finite and adds nothing to K.
  void accumulate(const double* x, double* F, double* K) const;

  // What a value of the intrinsic block stands for.
  enum Slot {
    eScaleX,
    eScaleY,
    eSquareScale,
    eSkew,
    eTransX,
    eTransY,
    eRadialK,
    eSineTanP1,
    eSineTanP2,
    eSineTanP3,
    eCentreX,
    eCentreY
  };

  tk_CameraIntrinsics cameraOf(const double* x) const;
  // Pose of view v at x (with its derivatives); false when one of its values is not finite.
  bool viewPose(const double* x, std::size_t v, ccal::detail::Pose& pose) const;

  const std::vector<std::vector<tk_PlanarObservation>>& views_;
  tk_CameraIntrinsics base_;  // values the slots do not cover
  std::vector<Slot> slots_;
  std::vector<int> heldIndex_;  // per view
  long viewBlockStart_;         // index of view 0's first value
  // accumulate: one view's rows of the residuals' Jacobian (two per point, the intrinsic slots
  // and the view's six values), sized for the largest view.
  mutable Eigen::MatrixXd viewRows_;
};

#endif
