// Euler angles (tk3AngleVect) and rotations about Z (tk3ZRotationXform).
#include <gtest/gtest.h>
#include <tk/angle_vect.h>
#include <tk/zrotation_xform.h>

#include "support/geometry_expect.h"

#include <cmath>

namespace {
const double kPi = 3.14159265358979323846;

tkMatrix<3> RotX(double t) {
  return tkMatrix<3>(1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t));
}
tkMatrix<3> RotY(double t) {
  return tkMatrix<3>(std::cos(t), 0, std::sin(t), 0, 1, 0, -std::sin(t), 0, std::cos(t));
}
tkMatrix<3> RotZ(double t) {
  return tkMatrix<3>(std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1);
}
}  // namespace

TEST(AngleVect, MatrixIsRzRyRx) {
  const tk3AngleVect angles(0.3, -0.7, 2.1);
  EXPECT_TRUE(MatricesNear(angles.matrix(), RotZ(2.1) * RotY(-0.7) * RotX(0.3), 1e-15));
  EXPECT_EQ(tk3AngleVect().matrix(), tkMatrix<3>::identity());
}

TEST(AngleVect, MatrixRoundTripRecoversAngles) {
  tkRandomUniform rng(17);
  for (int trial = 0; trial < 300; ++trial) {
    const double rx = rng.next(-kPi, kPi), ry = rng.next(-kPi / 2, kPi / 2),
                 rz = rng.next(-kPi, kPi);
    const tk3AngleVect back(tk3AngleVect(rx, ry, rz).matrix());
    EXPECT_NEAR(back.rx(), rx, 1e-12);
    EXPECT_NEAR(back.ry(), ry, 1e-12);
    EXPECT_NEAR(back.rz(), rz, 1e-12);
  }
  // Angles outside the principal ranges come back as the same rotation.
  const tk3AngleVect wide(3.5, 2.0, -4.0);
  const tk3AngleVect back(wide.matrix());
  EXPECT_TRUE(MatricesNear(back.matrix(), wide.matrix(), 1e-15));
  EXPECT_LE(std::abs(back.ry()), kPi / 2);
}

TEST(AngleVect, GimbalLockKeepsTheRotation) {
  for (double ry : {kPi / 2, -kPi / 2, kPi / 2 - 1e-13, -kPi / 2 + 1e-10})
    for (double rx : {0.0, 0.4, -2.0})
      for (double rz : {0.0, 1.1, -0.3}) {
        const tkMatrix<3> m = tk3AngleVect(rx, ry, rz).matrix();
        const tk3AngleVect back(m);
        EXPECT_TRUE(MatricesNear(back.matrix(), m, 1e-14))
            << "rx " << rx << " ry " << ry << " rz " << rz;
        EXPECT_NEAR(back.ry(), ry, 1e-7);
      }
  // Exactly at the lock rz is 0 and rx carries the rotation about the common axis.
  const tk3AngleVect locked(tkMatrix<3>(0, 0, 1, 0, 1, 0, -1, 0, 0));  // Ry(+90°)
  EXPECT_EQ(locked.rz(), 0.0);
  EXPECT_NEAR(locked.rx(), 0.0, 1e-16);
  EXPECT_NEAR(locked.ry(), kPi / 2, 1e-16);
}

TEST(AngleVect, NearlyOrthonormalMatrixIsProjectedOntoARotation) {
  tkRandomUniform rng(19);
  for (int trial = 0; trial < 50; ++trial) {
    const tkMatrix<3> rotation =
        tk3AngleVect(rng.next(-3, 3), rng.next(-1.5, 1.5), rng.next(-3, 3)).matrix();
    tkMatrix<3> perturbed = rotation;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        perturbed.element(r, c, perturbed.element(r, c) + rng.next(-1e-6, 1e-6));
    const tkMatrix<3> projected = tk3AngleVect::closestRotation(perturbed);
    EXPECT_LT(RotationDefect(projected), 1e-14);
    EXPECT_TRUE(MatricesNear(projected, rotation, 3e-6));
    const tkMatrix<3> viaAngles = tk3AngleVect(perturbed).matrix();
    EXPECT_LT(RotationDefect(viaAngles), 1e-14);
    EXPECT_TRUE(MatricesNear(viaAngles, projected, 1e-14));
  }
  // A uniformly scaled rotation projects onto the rotation itself.
  const tkMatrix<3> rotation = RotZ(0.5) * RotX(-1.0);
  EXPECT_TRUE(MatricesNear(tk3AngleVect::closestRotation(rotation * 3.0), rotation, 1e-15));
  // A reflection is no rotation: the projection still has det +1.
  const tkMatrix<3> reflected = rotation * tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, -1.01);
  EXPECT_NEAR(tk3AngleVect::closestRotation(reflected).determinant(), 1.0, 1e-15);
}

TEST(AngleVect, SingularMatrixThrowsAndLeavesAnglesUnchanged) {
  tk3AngleVect angles(0.1, 0.2, 0.3);
  EXPECT_THROW(angles.matrix(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, 0)), tkMathError::Singular);
  EXPECT_THROW(angles.matrix(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, NAN)), tkMathError::Singular);
  EXPECT_EQ(angles.rx(), 0.1);
  EXPECT_EQ(angles.rz(), 0.3);
}

TEST(ZRotationXform, FromTransformTakesTheAngleAboutZ) {
  for (double angle : {0.0, 0.7, -2.9, kPi, kPi / 2}) {
    const tkXform<3> general(RotZ(angle), tkVector<3>(4, -5, 6));
    const tk3ZRotationXform z(general);
    EXPECT_NEAR(z.rotZ(), angle, 1e-15);
    EXPECT_EQ(z.trans(), general.trans());
    EXPECT_TRUE(XformsNear(z.xform(), general, 1e-15));
  }
  // Angles are read in (−π, π].
  EXPECT_NEAR(tk3ZRotationXform(tkXform<3>(RotZ(1.5 * kPi), tkVector<3>())).rotZ(), -kPi / 2,
              1e-15);
  const tkMatrix<3> xOntoMinusZ(0, 0, 1, 0, 1, 0, -1, 0, 0);  // no angle about Z is defined
  EXPECT_THROW(tk3ZRotationXform(tkXform<3>(xOntoMinusZ, tkVector<3>())), tkMathError::Singular);
}

TEST(ZRotationXform, CompositionAndInverseOfRandomTransforms) {
  tkRandomUniform rng(23);
  for (int trial = 0; trial < 200; ++trial) {
    const tk3ZRotationXform a(rng.next(-kPi, kPi), RandomVector3(rng, 100));
    const tk3ZRotationXform b(rng.next(-kPi, kPi), RandomVector3(rng, 100));
    const tkVector<3> p = RandomVector3(rng, 100);
    EXPECT_TRUE(VectorsNear(a.mapPoint(p), a.xform().mapPoint(p), 1e-13));
    EXPECT_TRUE(VectorsNear((a * b).mapPoint(p), a.mapPoint(b.mapPoint(p)), 1e-12));
    EXPECT_TRUE(VectorsNear(a.inverse().mapPoint(a.mapPoint(p)), p, 1e-12));
    EXPECT_TRUE(XformsNear((a * b).xform(), a.xform() * b.xform(), 1e-12));
    EXPECT_TRUE(XformsNear(a.inverse().xform(), a.xform().inverse(), 1e-12));
  }
}
