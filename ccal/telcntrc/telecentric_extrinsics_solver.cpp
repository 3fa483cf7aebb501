#include "ccal/telcntrc/telecentric_extrinsics_solver.h"

#include <tk/attention.h>
#include <tk/quaternion.h>
#include <tk/quaternion_xform.h>

#include "platform/core/camera_model/pose.h"

namespace {

// The residual r = first - (Q.x, Q.y), Q = T * second, of every pair and its Jacobian J by the
// five values: J = -(the first two rows of dQ/d(var1, var2, var3, tx, ty)). visit(r, J) is
// called once per pair.
template <typename Visit>
void forEachResidual(const tkTelecentricPairs& pairs, int unitValIndex, const tkNMMatrix& x,
                     Visit&& visit) {
  const double values[6] = {x(0, 0), x(1, 0), x(2, 0), x(3, 0), x(4, 0), 0.0};
  const ccal::detail::Pose pose = ccal::detail::quaternionPose(unitValIndex, values);
  for (const auto& pair : pairs) {
    const double P[3] = {pair.second.x(), pair.second.y(), pair.second.z()};
    double Q[3], byPose[3][6];
    ccal::detail::mapPoint(pose, P, Q, byPose, nullptr);
    const double r[2] = {pair.first.x() - Q[0], pair.first.y() - Q[1]};
    double J[2][5];
    for (int row = 0; row < 2; ++row)
      for (int k = 0; k < 5; ++k)
        J[row][k] = -byPose[row][k];
    visit(r, J);
  }
}

// The function column is twice the gradient of the sum of squares (the defined difference is
// divided by the step, not twice the step): F = 2·JᵀW·r and K = 2·JᵀW·J with the weight W = 2.
constexpr double kWeight = 2.0;

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
                    lambdaMax, scaleByDiagonal, false) {}

tk3DTelecentricExtrinsicsSolver::~tk3DTelecentricExtrinsicsSolver() = default;

long tk3DTelecentricExtrinsicsSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  tkAttention::check();
  double F[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
  forEachResidual(pairs_, unitValIndex_, x, [&F](const double r[2], const double J[2][5]) {
    for (int k = 0; k < 5; ++k)
      F[k] += 2.0 * kWeight * (J[0][k] * r[0] + J[1][k] * r[1]);
  });
  const long rows = f.rows() < 5 ? f.rows() : 5;
  for (long k = 0; k < rows; ++k)
    f(k, 0) = F[k];
  return 0;
}

long tk3DTelecentricExtrinsicsSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix&,
                                                tkNMMatrix& jacobian) {
  const long m = getFunctionSize(), n = getSize();
  if (jacobian.rows() != m || jacobian.cols() != n)
    jacobian.resize(m, n);
  double K[5][5] = {};
  forEachResidual(pairs_, unitValIndex_, x, [&K](const double r[2], const double J[2][5]) {
    (void)r;
    for (int i = 0; i < 5; ++i)
      for (int k = 0; k < 5; ++k)
        K[i][k] += 2.0 * kWeight * (J[0][i] * J[0][k] + J[1][i] * J[1][k]);
  });
  for (long i = 0; i < m; ++i)
    for (long k = 0; k < n; ++k)
      jacobian(i, k) = i < 5 && k < 5 ? K[i][k] : 0.0;
  return 0;
}
