#include "platform/core/telecentric/telecentric_camera_solver.h"

#include <proc/csys_attention.h>
#include <tk/exception.h>
#include <tk/quaternion.h>

#include "platform/core/invalid_argument.h"

namespace {

// Settings of the minimisation: steps are stopped at the rounding level of the parameters, the
// function column is never small enough to stop on (the residual is the noise), and each
// parameter's damping is scaled by its own curvature.
tkLevMarSettings settings(long maxIterations) {
  tkLevMarSettings s;
  s.xTol = 1e-14;
  s.fTol = 0.0;
  s.maxIterations = maxIterations;
  s.maxLambdaSteps = 20;
  s.lambda0 = 1e-3;
  s.jacobianStep = 1e-8;  // unused: the Jacobian is analytic
  s.lambdaMax = 1e20;
  s.scaleByDiagonal = true;
  s.blockJacobian = false;
  return s;
}

long functionCount(const std::vector<tk_TelecentricObservation>& observations) {
  if (observations.size() < 4)
    tk_throwInvalidArgument("tk_TelecentricCameraSolver: fewer than four observations");
  return 2 * static_cast<long>(observations.size());
}

// Cross-product matrix [e_i]x of the i-th unit vector.
tkMatrix<3> crossMatrixOfAxis(int i) {
  tkMatrix<3> m;
  const int j = (i + 1) % 3, k = (i + 2) % 3;
  m.element(k, j, 1.0);
  m.element(j, k, -1.0);
  return m;
}

}  // namespace

tk_TelecentricCameraSolver::tk_TelecentricCameraSolver(
    const std::vector<tk_TelecentricObservation>& observations, const tkMatrix<3>& startRotation,
    long maxIterations)
    : tkLevMarSolve(kParameterCount, functionCount(observations), settings(maxIterations)),
      observations_(observations),
      startRotation_(startRotation) {}

tkMatrix<3> tk_TelecentricCameraSolver::rotation(const tkNMMatrix& x) const {
  const double* p = x.data();
  return startRotation_ * tk3Quaternion(1.0, p[3], p[4], p[5]).rotationMatrix();
}

long tk_TelecentricCameraSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  const cstd_status attention = csys_attention_check();
  if (attention < 0)
    return attention;
  const double* p = x.data();
  const double sx = p[0], sy = p[1], skew = p[2], tx = p[6], ty = p[7];
  const tkMatrix<3> R = rotation(x);
  double* out = f.data();
  for (const tk_TelecentricObservation& o : observations_) {
    const tkVector<3>& h = o.home;
    const double qx = R.element(0, 0) * h.x() + R.element(0, 1) * h.y() + R.element(0, 2) * h.z();
    const double qy = R.element(1, 0) * h.x() + R.element(1, 1) * h.y() + R.element(1, 2) * h.z();
    const double cx = qx + tx, cy = qy + ty;
    *out++ = o.sqrtWeight * (sx * cx + skew * cy - o.image.x());
    *out++ = o.sqrtWeight * (sy * cy - o.image.y());
  }
  return 0;
}

long tk_TelecentricCameraSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix&,
                                           tkNMMatrix& jacobian) {
  const cstd_status attention = csys_attention_check();
  if (attention < 0)
    return attention;
  const long m = getFunctionSize();
  if (jacobian.rows() != m || jacobian.cols() != kParameterCount)
    jacobian.resize(m, kParameterCount);

  const double* p = x.data();
  const double sx = p[0], sy = p[1], skew = p[2], tx = p[6], ty = p[7];
  const double w[3] = {p[3], p[4], p[5]};
  const tkMatrix<3> R = rotation(x);

  // d R / d w_i = R0 * (dRh/dv_i - 2 w_i R(q)) / |u|^2, with u = (1, w) and Rh the rotation
  // formula of an unnormalised quaternion (a, v): Rh p = (a^2 - |v|^2) p + 2 (v.p) v + 2a v x p,
  // dRh/dv_i = -2 v_i I + 2 (v e_i^T + e_i v^T) + 2a [e_i]x (here a = 1, v = w).
  const tkMatrix<3> Rq = tk3Quaternion(1.0, w[0], w[1], w[2]).rotationMatrix();
  const double norm2 = 1.0 + w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
  tkMatrix<3> dR[3];
  for (int i = 0; i < 3; ++i) {
    tkMatrix<3> dRh = tkMatrix<3>::identity() * (-2.0 * w[i]) + crossMatrixOfAxis(i) * 2.0;
    for (int r = 0; r < 3; ++r) {
      dRh.element(r, i, dRh.element(r, i) + 2.0 * w[r]);
      dRh.element(i, r, dRh.element(i, r) + 2.0 * w[r]);
    }
    dR[i] = startRotation_ * ((dRh - Rq * (2.0 * w[i])) * (1.0 / norm2));
  }

  double* J = jacobian.data();  // column-major: (row, column) at row + column * m
  long row = 0;
  for (const tk_TelecentricObservation& o : observations_) {
    const tkVector<3>& h = o.home;
    const double s = o.sqrtWeight;
    const double cx =
        R.element(0, 0) * h.x() + R.element(0, 1) * h.y() + R.element(0, 2) * h.z() + tx;
    const double cy =
        R.element(1, 0) * h.x() + R.element(1, 1) * h.y() + R.element(1, 2) * h.z() + ty;
    double* ju = J + row;
    double* jv = J + row + 1;
    ju[0 * m] = s * cx;
    jv[0 * m] = 0.0;
    ju[1 * m] = 0.0;
    jv[1 * m] = s * cy;
    ju[2 * m] = s * cy;
    jv[2 * m] = 0.0;
    for (int i = 0; i < 3; ++i) {
      const tkMatrix<3>& D = dR[i];
      const double dx = D.element(0, 0) * h.x() + D.element(0, 1) * h.y() + D.element(0, 2) * h.z();
      const double dy = D.element(1, 0) * h.x() + D.element(1, 1) * h.y() + D.element(1, 2) * h.z();
      ju[(3 + i) * m] = s * (sx * dx + skew * dy);
      jv[(3 + i) * m] = s * sy * dy;
    }
    ju[6 * m] = s * sx;
    jv[6 * m] = 0.0;
    ju[7 * m] = s * skew;
    jv[7 * m] = s * sy;
    row += 2;
  }
  return 0;
}
