// Levenberg-Marquardt refinement of a telecentric camera's pose when its intrinsic part is known.
//
// The data are pairs (camera-plane point, home-frame point): the first is an image point already
// taken through the known intrinsic part's invMapPoint, the second a plate point moved by its pose
// into the home frame. The cost is the unweighted sum of squares of first - (Q.x, Q.y) with
// Q = T * second, over the pose T (home -> camera). The projection drops Q.z, so T's Z
// translation is held at 0.
//
// Parameter column x (5 x 1): x0..x2 the free values (var1..var3) of T's unit quaternion for the
// held component unitValIndex, x3 and x4 the translation's x and y.
#ifndef CCAL_TELCNTRC_TELECENTRIC_EXTRINSICS_SOLVER_H
#define CCAL_TELCNTRC_TELECENTRIC_EXTRINSICS_SOLVER_H

#include <tk/levmar_solve.h>
#include <tk/nm_matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <utility>
#include <vector>

using tkTelecentricPairs = std::vector<std::pair<tkVector<2>, tkVector<3>>>;

// Sum over the pairs of |first - (Q.x, Q.y)|^2 with Q = xform * second.
double telecentricSumOfSquares(const tkTelecentricPairs& pairs, const tkXform<3>& xform);

// xform = the rigid transform of a parameter column: the unit quaternion rebuilt from x(0..2)
// with the held component unitValIndex (tk3Quaternion::setUsingUnitValIndex), translation
// (x(3), x(4), 0). Throws tkInvariantFailure for an index outside 0..3 and tkMathError::Singular
// for non-finite values.
void telecentricXformFromSolution(const tkNMMatrix& x, int unitValIndex, tkXform<3>& xform);

// The solver. Its function column f (5 x 1) is twice the gradient of telecentricSumOfSquares S,
// F = 2·JᵀW·r with W = 2, r the pairs' residuals and J their Jacobian by x (the quaternion
// form's derivatives of camera_model/pose.h); the minimisation drives it to zero. Its Jacobian
// is the Gauss-Newton product K = 2·JᵀW·J (exact where the residuals vanish), so that the
// Levenberg-Marquardt step on F is a damped Gauss-Newton step of S. F equals the central
// difference (S(x + h e_k) - S(x - h e_k)) / h, h = 1e-8, up to that difference's own error
// (docs/telecentric.md).
//
// Use: construct, unitValIndex(...), pairs(...), setX(x0), minimize(), getX(),
// telecentricXformFromSolution. One call, one thread.
class tk3DTelecentricExtrinsicsSolver : public tkLevMarSolve {
 public:
  // The first ten settings of tkLevMarSolve, in its order (n, m, xTol, fTol, maxIterations,
  // maxLambdaSteps, lambda0, jacobianStep, lambdaMax, scaleByDiagonal); the block Jacobian is
  // off. The calibration passes (5, 5, 1e-12, 1e-12, 300, 15, 0.01, 1e-8, 1e20, false).
  // Throws as tkLevMarSolve's constructor.
  tk3DTelecentricExtrinsicsSolver(long n, long m, double xTol, double fTol, long maxIterations,
                                  long maxLambdaSteps, double lambda0, double jacobianStep,
                                  double lambdaMax, bool scaleByDiagonal);
  ~tk3DTelecentricExtrinsicsSolver() override;

  int unitValIndex() const { return unitValIndex_; }
  void unitValIndex(int index) { unitValIndex_ = index; }
  // The pair list is copied in.
  const tkTelecentricPairs& pairs() const { return pairs_; }
  void pairs(const tkTelecentricPairs& pairs) { pairs_ = pairs; }

  // f(k) = 2·dS/dx_k for k < f.rows() (at most 5). Calls tkAttention::check first (throws
  // tkAttention::Aborted, which ends the minimisation). Throws as telecentricXformFromSolution
  // for a bad unitValIndex or non-finite values. Returns 0.
  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  // jacobian (resized to m x n) = 2·JᵀW·J in its leading 5 x 5 block, 0 elsewhere. Returns 0.
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;

 private:
  tkTelecentricPairs pairs_;
  int unitValIndex_ = 0;
};

#endif
