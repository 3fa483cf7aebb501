#include "ccal/telcntrc/telecentric_factorization.h"

#include <proc/cstd_assert.h>

#include <cmath>
#include <vector>

tkMatrix<3> orthonormalizeTelecentricRotation(const tkMatrix<3>& m) {
  const tkVector<3> a(m.element(0, 0), m.element(0, 1), m.element(0, 2));
  const tkVector<3> b(m.element(1, 0), m.element(1, 1), m.element(1, 2));
  const tkVector<3> bUnit = b.unit();
  const tkVector<3> aUnit = (a - bUnit * a.dot(bUnit)).unit();
  CSTD_ASSERT(std::abs(aUnit.dot(bUnit)) < 1e-6);
  const tkVector<3> c = aUnit.cross(bUnit);
  return tkMatrix<3>(aUnit.x(), aUnit.y(), aUnit.z(), bUnit.x(), bUnit.y(), bUnit.z(), c.x(), c.y(),
                     c.z());
}

void factorTelecentricEstimate(const tkXform<3>& estimate, tkCalib2ParamsIntrinsic& intrinsicPart,
                               tkXform<3>& extrinsic) {
  const tkMatrix<3>& M = estimate.matrix();
  const tkVector<3>& t = estimate.trans();
  const tkMatrix<3> R = orthonormalizeTelecentricRotation(M);
  const tkXform<3> E(R, (R * M.inverse()) * t);
  const tkXform<3> K = estimate * E.inverse();
  const tkCalib2ParamsIntrinsic intrinsic(
      tkVector<2>(K.matrix().element(0, 0), K.matrix().element(1, 1)), K.matrix().element(0, 1),
      tkVector<2>(K.trans().x(), K.trans().y()), tk2XformCalib2Defs::eTelecentric,
      std::vector<double>());
  intrinsicPart = intrinsic;
  extrinsic = E;
}

tk3QuaternionXform initialTelecentricPose(const tkXform<3>& orthonormalizedEstimate,
                                          const tkCalib2ParamsIntrinsic& intrinsic) {
  tkMatrix<3> intrinsicMatrix = tkMatrix<3>::identity();
  intrinsicMatrix.element(0, 0, intrinsic.scale().x());
  intrinsicMatrix.element(1, 1, intrinsic.scale().y());
  intrinsicMatrix.element(0, 1, intrinsic.skew());
  const tkXform<3> Kx(intrinsicMatrix,
                      tkVector<3>(intrinsic.translation().x(), intrinsic.translation().y(), 0.0));

  tkXform<3> Y = Kx.inverse() * orthonormalizedEstimate;
  const tkMatrix<3> N = Y.matrix().inverse();
  tkVector<3> rows[3];
  for (int k = 0; k < 3; ++k)
    rows[k] = tkVector<3>(N.element(0, k), N.element(1, k), N.element(2, k)).unit();
  Y.matrix(tkMatrix<3>(rows[0].x(), rows[0].y(), rows[0].z(), rows[1].x(), rows[1].y(), rows[1].z(),
                       rows[2].x(), rows[2].y(), rows[2].z()));
  return tk3QuaternionXform(Y);
}
