// Quaternions as rotations, their three-value form, and quaternion transforms.
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/quaternion.h>
#include <tk/quaternion_xform.h>

#include "support/geometry_expect.h"

#include <cmath>
#include <stdexcept>
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
         << ", " << p.b() << ", " << p.c() << ", " << p.d() << "), off by "
         << std::min(plus, minus);
}

const std::vector<tkVector<3>> kAxes = {
    tkVector<3>(1, 0, 0), tkVector<3>(0, 1, 0),    tkVector<3>(0, 0, 1),    tkVector<3>(1, 1, 0),
    tkVector<3>(1, 2, 3), tkVector<3>(-1, 0.5, 2), tkVector<3>(0, -1, 1e-3)};
}  // namespace

TEST(Quaternion, MatrixIsTheRotationAboutTheAxis) {
  for (const tkVector<3>& axis : kAxes)
    for (double angle : {0.0, 0.3, -1.2, kPi / 2, 2.5, kPi}) {
      const tk3Quaternion q = AxisAngleQuaternion(axis, angle);
      EXPECT_TRUE(MatricesNear(q.rotationMatrix(), AxisAngleMatrix(axis, angle), 1e-15))
          << "angle " << angle;
    }
}

TEST(Quaternion, NonUnitQuaternionIsDividedByItsSquaredNorm) {
  const tk3Quaternion q(0.3, -0.2, 0.9, 0.1), scaled(0.9, -0.6, 2.7, 0.3);
  EXPECT_TRUE(MatricesNear(scaled.rotationMatrix(), q.normalised().rotationMatrix(), 1e-15));
  EXPECT_LT(RotationDefect(scaled.rotationMatrix()), 1e-15);
  EXPECT_THROW(tk3Quaternion(0, 0, 0, 0).rotationMatrix(), tkMathError::Singular);
  EXPECT_THROW(tk3Quaternion(NAN, 0, 0, 1).normalised(), tkMathError::Singular);
}

TEST(Quaternion, ProductComposesRotationsAndConjugateInverts) {
  tkRandomUniform rng(11);
  for (int trial = 0; trial < 100; ++trial) {
    const tk3Quaternion p = RandomUnitQuaternion(rng), q = RandomUnitQuaternion(rng);
    EXPECT_TRUE(
        MatricesNear((p * q).rotationMatrix(), p.rotationMatrix() * q.rotationMatrix(), 1e-15));
    EXPECT_TRUE(SameRotation(p * p.conjugate(), tk3Quaternion(), 1e-15));
    const tkVector<3> v = RandomVector3(rng, 10);
    EXPECT_TRUE(VectorsNear((p * q).rotate(v), p.rotate(q.rotate(v)), 1e-14));
  }
}

TEST(Quaternion, MatrixRoundTripOfRandomRotationsAndAtAndNear180Degrees) {
  tkRandomUniform rng(3);
  for (int trial = 0; trial < 500; ++trial) {
    const tk3Quaternion q = RandomUnitQuaternion(rng);
    const tk3Quaternion back(q.rotationMatrix());
    EXPECT_TRUE(SameRotation(back, q, 1e-15));
    EXPECT_GE(back.a(), 0.0);
    EXPECT_NEAR(back.norm(), 1.0, 1e-15);
  }
  // At 180° the real part vanishes and the trace is −1: a trace-based formula divides by ~0.
  for (const tkVector<3>& axis : kAxes)
    for (double angle : {kPi, kPi - 1e-9, kPi - 1e-6, -kPi + 1e-7, kPi - 1e-3, 1e-9, 0.0}) {
      const tk3Quaternion expected = AxisAngleQuaternion(axis, angle);
      const tk3Quaternion recovered(AxisAngleMatrix(axis, angle));
      EXPECT_TRUE(SameRotation(recovered, expected, 2e-15))
          << "axis (" << axis.x() << ", " << axis.y() << ", " << axis.z() << ") angle " << angle;
      EXPECT_TRUE(MatricesNear(recovered.rotationMatrix(), AxisAngleMatrix(axis, angle), 2e-15));
    }
  // Exact 180° matrices with integer entries.
  const tkMatrix<3> halfTurnX(1, 0, 0, 0, -1, 0, 0, 0, -1);
  EXPECT_TRUE(SameRotation(tk3Quaternion(halfTurnX), tk3Quaternion(0, 1, 0, 0), 0.0));
  const tkMatrix<3> halfTurnZ(-1, 0, 0, 0, -1, 0, 0, 0, 1);
  EXPECT_TRUE(SameRotation(tk3Quaternion(halfTurnZ), tk3Quaternion(0, 0, 0, 1), 0.0));
  EXPECT_THROW(tk3Quaternion(tkMatrix<3>(1, 0, 0, 0, NAN, 0, 0, 0, 1)), tkMathError::Singular);
}

TEST(Quaternion, ThreeValueFormRoundTripsForEveryHeldIndex) {
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
      for (int k = 0, i = 0; i < 4; ++i) {
        if (i == held)
          continue;
        EXPECT_DOUBLE_EQ(vars[k++], comps[i] / comps[held]);
      }
      for (double v : vars)
        EXPECT_LE(std::abs(v), 1.0);

      tk3Quaternion rebuilt;
      rebuilt.setUsingUnitValIndex(held, vars[0], vars[1], vars[2]);
      EXPECT_GT(rebuilt[held], 0.0);
      EXPECT_TRUE(SameRotation(rebuilt, q, 1e-15));
    }
}

TEST(Quaternion, ThreeValueFormRejectsBadInput) {
  tk3Quaternion q(0.5, 0.5, 0.5, 0.5);
  EXPECT_EQ(q.unitValIndex(), 0);  // ties go to the lowest index
  EXPECT_THROW(q.setUsingUnitValIndex(4, 0, 0, 0), tkInvariantFailure);
  EXPECT_THROW(q.setUsingUnitValIndex(-1, 0, 0, 0), tkInvariantFailure);
  EXPECT_THROW(q.setUsingUnitValIndex(1, 0, NAN, 0), tkMathError::Singular);
  EXPECT_EQ(q, tk3Quaternion(0.5, 0.5, 0.5, 0.5));  // unchanged after a failure
  EXPECT_THROW(tk3Quaternion(0, 0, 0, 0).unitValIndex(), tkMathError::Singular);
  EXPECT_THROW(tk3Quaternion(0, 0, 0, 0).var2(), tkMathError::Singular);
}

TEST(QuaternionXform, CompositionAndInverseOfRandomTransforms) {
  tkRandomUniform rng(13);
  for (int trial = 0; trial < 200; ++trial) {
    const tk3QuaternionXform a(RandomUnitQuaternion(rng), RandomVector3(rng, 500));
    const tk3QuaternionXform b(RandomUnitQuaternion(rng), RandomVector3(rng, 500));
    const tkVector<3> p = RandomVector3(rng, 100);
    EXPECT_TRUE(VectorsNear((a * b).mapPoint(p), a.mapPoint(b.mapPoint(p)), 1e-12));
    EXPECT_TRUE(VectorsNear(a.inverse().mapPoint(a.mapPoint(p)), p, 1e-12));
    EXPECT_TRUE(XformsNear((a * b).xform(), a.xform() * b.xform(), 1e-12));
    EXPECT_TRUE(XformsNear(a.inverse().xform(), a.xform().inverse(), 1e-12));
    EXPECT_TRUE(VectorsNear(a.mapVector(p), a.xform().mapVector(p), 1e-13));
    // Through a general transform and back.
    const tk3QuaternionXform fromXform(a.xform());
    EXPECT_TRUE(SameRotation(fromXform.quat(), a.quat(), 1e-15));
    EXPECT_EQ(fromXform.trans(), a.trans());
  }
}

TEST(QuaternionXform, NormalisesItsQuaternionAndRejectsZero) {
  const tk3QuaternionXform x(tk3Quaternion(0, 0, 0, 2), tkVector<3>(1, 2, 3));
  EXPECT_EQ(x.quat(), tk3Quaternion(0, 0, 0, 1));
  EXPECT_TRUE(VectorsNear(x.mapPoint(tkVector<3>(1, 0, 0)), tkVector<3>(0, 2, 3), 1e-16));
  EXPECT_THROW(tk3QuaternionXform(tk3Quaternion(0, 0, 0, 0), tkVector<3>()), tkMathError::Singular);
}
