#include "ccal/telcntrc/telecentric_extrinsics_solver.h"

#include <tk/attention.h>
#include <tk/quaternion.h>
#include <tk/quaternion_xform.h>

namespace {

// Step of the central difference in Func.
constexpr double kGradientStep = 1e-8;

}  // namespace

double telecentricSumOfSquares(const tkTelecentricPairs& pairs, const tkXform<3>& xform) {
  double sum = 0.0;
  for (const auto& pair : pairs) {
    const tkVector<3> Q = xform.mapPoint(pair.second);
    const double dx = pair.first.x() - Q.x();
    const double dy = pair.first.y() - Q.y();
    sum += dx * dx + dy * dy;
  }
  return sum;
}

void telecentricXformFromSolution(const tkNMMatrix& x, int unitValIndex, tkXform<3>& xform) {
  tk3Quaternion q(1.0, 0.0, 0.0, 0.0);
  q.setUsingUnitValIndex(unitValIndex, x(0, 0), x(1, 0), x(2, 0));
  xform = tk3QuaternionXform(q, tkVector<3>(x(3, 0), x(4, 0), 0.0)).xform();
}

tk3DTelecentricExtrinsicsSolver::tk3DTelecentricExtrinsicsSolver(
    long n, long m, double xTol, double fTol, long maxIterations, long maxLambdaSteps,
    double lambda0, double jacobianStep, double lambdaMax, bool scaleByDiagonal)
    : tkLevMarSolve(n, m, xTol, fTol, maxIterations, maxLambdaSteps, lambda0, jacobianStep,
                    lambdaMax, scaleByDiagonal, false),
      shifted_(n, 1) {}

tk3DTelecentricExtrinsicsSolver::~tk3DTelecentricExtrinsicsSolver() = default;

long tk3DTelecentricExtrinsicsSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  tkAttention::check();
  tkXform<3> xform;
  for (long k = 0; k < f.rows(); ++k) {
    f(k, 0) = 0.0;
    shifted_ = x;
    shifted_(k, 0) = x(k, 0) - kGradientStep;
    telecentricXformFromSolution(shifted_, unitValIndex_, xform);
    const double below = telecentricSumOfSquares(pairs_, xform);
    shifted_(k, 0) = x(k, 0) + kGradientStep;
    telecentricXformFromSolution(shifted_, unitValIndex_, xform);
    const double above = telecentricSumOfSquares(pairs_, xform);
    f(k, 0) = (above - below) / kGradientStep;
  }
  return 0;
}
