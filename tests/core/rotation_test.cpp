// Rotations in their three forms (quaternions with their three-value form, Euler angles, angles
// about Z) and the rigid transforms built on them.
#include <gtest/gtest.h>
#include <tk/angle_vect.h>
#include <tk/exception.h>
#include <tk/quaternion.h>
#include <tk/quaternion_xform.h>
#include <tk/zrotation_xform.h>

#include "support/geometry_expect.h"

#include <cmath>
#include <vector>

namespace {
const double kPi = 3.14159265358979323846;

// Rotation by `angle` about the unit `axis` by Rodrigues' formula (independent of quaternions).
tkMatrix<3> AxisAngleMatrix(const tkVector<3>& axis, double angle) {
  const tkVector<3> k = axis.unit();
  const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  return tkMatrix<3>(c + t * k.x() * k.x(), t * k.x() * k.y() - s * k.z(),
                     t * k.x() * k.z() + s * k.y(),  //
                     t * k.x() * k.y() + s * k.z(), c + t * k.y() * k.y(),
                     t * k.y() * k.z() - s * k.x(),  //
                     t * k.x() * k.z() - s * k.y(), t * k.y() * k.z() + s * k.x(),
                     c + t * k.z() * k.z());
}

tk3Quaternion AxisAngleQuaternion(const tkVector<3>& axis, double angle) {
  const tkVector<3> k = axis.unit() * std::sin(angle / 2);
  return tk3Quaternion(std::cos(angle / 2), k.x(), k.y(), k.z());
}

tkMatrix<3> RotX(double t) {
  return tkMatrix<3>(1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t));
}
tkMatrix<3> RotY(double t) {
  return tkMatrix<3>(std::cos(t), 0, std::sin(t), 0, 1, 0, -std::sin(t), 0, std::cos(t));
}
tkMatrix<3> RotZ(double t) {
  return tkMatrix<3>(std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1);
}

// q and p equal up to the sign that does not change the rotation.
::testing::AssertionResult SameRotation(const tk3Quaternion& q, const tk3Quaternion& p,
                                        double tol) {
  double plus = 0, minus = 0;
  for (int i = 0; i < 4; ++i) {
    plus = std::max(plus, std::abs(q[i] - p[i]));
    minus = std::max(minus, std::abs(q[i] + p[i]));
  }
  if (std::min(plus, minus) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "(" << q.a() << ", " << q.b() << ", " << q.c() << ", " << q.d() << ") vs (" << p.a()
         << ", " << p.b() << ", " << p.c() << ", " << p.d() << ")";
}

// Composition and inverse of a rigid transform type agree with those of its general transform.
template <class X>
void ExpectComposesAndInverts(const X& a, const X& b, const tkVector<3>& p) {
  EXPECT_TRUE(VectorsNear(a.mapPoint(p), a.xform().mapPoint(p), 1e-13));
  EXPECT_TRUE(VectorsNear((a * b).mapPoint(p), a.mapPoint(b.mapPoint(p)), 1e-12));
  EXPECT_TRUE(VectorsNear(a.inverse().mapPoint(a.mapPoint(p)), p, 1e-12));
  EXPECT_TRUE(XformsNear((a * b).xform(), a.xform() * b.xform(), 1e-12));
  EXPECT_TRUE(XformsNear(a.inverse().xform(), a.xform().inverse(), 1e-12));
}

const std::vector<tkVector<3>> kAxes = {
    tkVector<3>(1, 0, 0), tkVector<3>(0, 1, 0),    tkVector<3>(0, 0, 1),    tkVector<3>(1, 1, 0),
    tkVector<3>(1, 2, 3), tkVector<3>(-1, 0.5, 2), tkVector<3>(0, -1, 1e-3)};
}  // namespace

// ---- quaternions -------------------------------------------------------------------------------

TEST(Quaternion, MatrixIsTheRotationAboutTheAxisAndRoundTripsAtAndNearAHalfTurn) {
  // At 180° the real part vanishes and the trace is −1: a trace-based formula divides by ~0.
  for (const tkVector<3>& axis : kAxes)
    for (double angle : {0.0, 1e-9, 0.3, -1.2, kPi / 2, 2.5, kPi - 1e-3, kPi - 1e-6, kPi - 1e-9,
                         -kPi + 1e-7, kPi}) {
      const tkMatrix<3> R = AxisAngleMatrix(axis, angle);
      EXPECT_TRUE(MatricesNear(AxisAngleQuaternion(axis, angle).rotationMatrix(), R, 1e-15));
      EXPECT_TRUE(SameRotation(tk3Quaternion(R), AxisAngleQuaternion(axis, angle), 2e-15))
          << "axis (" << axis.x() << ", " << axis.y() << ", " << axis.z() << ") angle " << angle;
    }
  EXPECT_TRUE(SameRotation(tk3Quaternion(tkMatrix<3>(1, 0, 0, 0, -1, 0, 0, 0, -1)),
                           tk3Quaternion(0, 1, 0, 0), 0.0));
  EXPECT_TRUE(SameRotation(tk3Quaternion(tkMatrix<3>(-1, 0, 0, 0, -1, 0, 0, 0, 1)),
                           tk3Quaternion(0, 0, 0, 1), 0.0));
  tkRandomUniform rng(3);
  for (int trial = 0; trial < 500; ++trial) {
    const tk3Quaternion q = RandomUnitQuaternion(rng);
    const tk3Quaternion back(q.rotationMatrix());
    EXPECT_TRUE(SameRotation(back, q, 1e-15));
    EXPECT_GE(back.a(), 0.0);
    EXPECT_NEAR(back.norm(), 1.0, 1e-15);
  }
  EXPECT_THROW(tk3Quaternion(tkMatrix<3>(1, 0, 0, 0, NAN, 0, 0, 0, 1)), tkMathError::Singular);
}

TEST(Quaternion, ProductComposesConjugateInvertsAndScaleDoesNotMatter) {
  tkRandomUniform rng(11);
  for (int trial = 0; trial < 100; ++trial) {
    const tk3Quaternion p = RandomUnitQuaternion(rng), q = RandomUnitQuaternion(rng);
    EXPECT_TRUE(
        MatricesNear((p * q).rotationMatrix(), p.rotationMatrix() * q.rotationMatrix(), 1e-15));
    EXPECT_TRUE(SameRotation(p * p.conjugate(), tk3Quaternion(), 1e-15));
    const tkVector<3> v = RandomVector3(rng, 10);
    EXPECT_TRUE(VectorsNear((p * q).rotate(v), p.rotate(q.rotate(v)), 1e-14));
  }
  // A non-unit quaternion is divided by its squared norm.
  const tk3Quaternion q(0.3, -0.2, 0.9, 0.1), scaled(0.9, -0.6, 2.7, 0.3);
  EXPECT_TRUE(MatricesNear(scaled.rotationMatrix(), q.normalised().rotationMatrix(), 1e-15));
  EXPECT_LT(RotationDefect(scaled.rotationMatrix()), 1e-15);
  EXPECT_THROW(tk3Quaternion(0, 0, 0, 0).rotationMatrix(), tkMathError::Singular);
  EXPECT_THROW(tk3Quaternion(NAN, 0, 0, 1).normalised(), tkMathError::Singular);
}

TEST(Quaternion, ThreeValueFormRoundTripsForEveryHeldIndexAndRejectsBadInput) {
  tkRandomUniform rng(5);
  for (int held = 0; held < 4; ++held)
    for (int trial = 0; trial < 50; ++trial) {
      // Largest component at `held`, of either sign.
      double comps[4];
      for (double& x : comps)
        x = rng.next(-0.9, 0.9);
      comps[held] = (trial % 2 ? -1.0 : 1.0);
      const tk3Quaternion q = tk3Quaternion(comps[0], comps[1], comps[2], comps[3]).normalised();
      ASSERT_EQ(q.unitValIndex(), held);
      const double vars[3] = {q.var1(), q.var2(), q.var3()};
      for (int k = 0, i = 0; i < 4; ++i)
        if (i != held) {
          EXPECT_DOUBLE_EQ(vars[k++], comps[i] / comps[held]);
        }
      tk3Quaternion rebuilt;
      rebuilt.setUsingUnitValIndex(held, vars[0], vars[1], vars[2]);
      EXPECT_GT(rebuilt[held], 0.0);
      EXPECT_TRUE(SameRotation(rebuilt, q, 1e-15));
    }
  tk3Quaternion q(0.5, 0.5, 0.5, 0.5);
  EXPECT_EQ(q.unitValIndex(), 0);  // ties go to the lowest index
  EXPECT_THROW(q.setUsingUnitValIndex(4, 0, 0, 0), tkInvariantFailure);
  EXPECT_THROW(q.setUsingUnitValIndex(-1, 0, 0, 0), tkInvariantFailure);
  EXPECT_THROW(q.setUsingUnitValIndex(1, 0, NAN, 0), tkMathError::Singular);
  EXPECT_EQ(q, tk3Quaternion(0.5, 0.5, 0.5, 0.5));  // unchanged after a failure
  EXPECT_THROW(tk3Quaternion(0, 0, 0, 0).var2(), tkMathError::Singular);
}

// ---- Euler angles ------------------------------------------------------------------------------

TEST(AngleVect, MatrixIsRzRyRxAndRoundTripsIncludingGimbalLock) {
  EXPECT_TRUE(MatricesNear(tk3AngleVect(0.3, -0.7, 2.1).matrix(),
                           RotZ(2.1) * RotY(-0.7) * RotX(0.3), 1e-15));
  tkRandomUniform rng(17);
  for (int trial = 0; trial < 300; ++trial) {
    const double rx = rng.next(-kPi, kPi), ry = rng.next(-kPi / 2, kPi / 2),
                 rz = rng.next(-kPi, kPi);
    const tk3AngleVect back(tk3AngleVect(rx, ry, rz).matrix());
    EXPECT_NEAR(back.rx(), rx, 1e-12);
    EXPECT_NEAR(back.ry(), ry, 1e-12);
    EXPECT_NEAR(back.rz(), rz, 1e-12);
  }
  // Angles outside the principal ranges, and at or near the lock, come back as the same rotation.
  for (double ry : {kPi / 2, -kPi / 2, kPi / 2 - 1e-13, -kPi / 2 + 1e-10, 2.0})
    for (double rx : {0.0, 0.4, -2.0, 3.5})
      for (double rz : {0.0, 1.1, -4.0}) {
        const tkMatrix<3> m = tk3AngleVect(rx, ry, rz).matrix();
        const tk3AngleVect back(m);
        EXPECT_TRUE(MatricesNear(back.matrix(), m, 1e-14))
            << "rx " << rx << " ry " << ry << " rz " << rz;
        EXPECT_LE(std::abs(back.ry()), kPi / 2);
        if (std::abs(ry) <= kPi / 2) {
          EXPECT_NEAR(back.ry(), ry, 1e-7);
        }
      }
  // Exactly at the lock rz is 0 and rx carries the rotation about the common axis.
  const tk3AngleVect locked(tkMatrix<3>(0, 0, 1, 0, 1, 0, -1, 0, 0));  // Ry(+90°)
  EXPECT_EQ(locked.rz(), 0.0);
  EXPECT_NEAR(locked.rx(), 0.0, 1e-16);
  EXPECT_NEAR(locked.ry(), kPi / 2, 1e-16);
}

TEST(AngleVect, NearlyOrthonormalMatricesAreProjectedOntoARotationAndSingularOnesThrow) {
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
    EXPECT_TRUE(MatricesNear(tk3AngleVect(perturbed).matrix(), projected, 1e-14));
  }
  const tkMatrix<3> rotation = RotZ(0.5) * RotX(-1.0);
  EXPECT_TRUE(MatricesNear(tk3AngleVect::closestRotation(rotation * 3.0), rotation, 1e-15));
  // A reflection is no rotation: the projection still has det +1.
  const tkMatrix<3> reflected = rotation * tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, -1.01);
  EXPECT_NEAR(tk3AngleVect::closestRotation(reflected).determinant(), 1.0, 1e-15);

  tk3AngleVect angles(0.1, 0.2, 0.3);
  EXPECT_THROW(angles.matrix(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, 0)), tkMathError::Singular);
  EXPECT_THROW(angles.matrix(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, NAN)), tkMathError::Singular);
  EXPECT_EQ(angles.rz(), 0.3) << "unchanged after a failure";
}

// ---- rigid transforms --------------------------------------------------------------------------

TEST(RigidXform, ZRotationFromATransformTakesTheAngleAboutZ) {
  for (double angle : {0.0, 0.7, -2.9, kPi, kPi / 2}) {
    const tkXform<3> general(RotZ(angle), tkVector<3>(4, -5, 6));
    const tk3ZRotationXform z(general);
    EXPECT_NEAR(z.rotZ(), angle, 1e-15);
    EXPECT_TRUE(XformsNear(z.xform(), general, 1e-15));
  }
  // Angles are read in (−π, π].
  EXPECT_NEAR(tk3ZRotationXform(tkXform<3>(RotZ(1.5 * kPi), tkVector<3>())).rotZ(), -kPi / 2,
              1e-15);
  const tkMatrix<3> xOntoMinusZ(0, 0, 1, 0, 1, 0, -1, 0, 0);  // no angle about Z is defined
  EXPECT_THROW(tk3ZRotationXform(tkXform<3>(xOntoMinusZ, tkVector<3>())), tkMathError::Singular);
}

TEST(RigidXform, CompositionAndInverseOfRandomTransforms) {
  tkRandomUniform rng(13);
  for (int trial = 0; trial < 200; ++trial) {
    const tk3QuaternionXform a(RandomUnitQuaternion(rng), RandomVector3(rng, 500));
    const tk3QuaternionXform b(RandomUnitQuaternion(rng), RandomVector3(rng, 500));
    ExpectComposesAndInverts(a, b, RandomVector3(rng, 100));
    const tk3QuaternionXform fromXform(a.xform());
    EXPECT_TRUE(SameRotation(fromXform.quat(), a.quat(), 1e-15));
    ExpectComposesAndInverts(tk3ZRotationXform(rng.next(-kPi, kPi), RandomVector3(rng, 100)),
                             tk3ZRotationXform(rng.next(-kPi, kPi), RandomVector3(rng, 100)),
                             RandomVector3(rng, 100));
  }
  // The quaternion transform normalises its quaternion and refuses zero.
  const tk3QuaternionXform x(tk3Quaternion(0, 0, 0, 2), tkVector<3>(1, 2, 3));
  EXPECT_EQ(x.quat(), tk3Quaternion(0, 0, 0, 1));
  EXPECT_THROW(tk3QuaternionXform(tk3Quaternion(0, 0, 0, 0), tkVector<3>()), tkMathError::Singular);
}
