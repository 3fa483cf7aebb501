// The point-ray accumulators hold the weighted sum of squared plane residuals exactly: value,
// gradient and quadratic form equal what direct summation gives, at any pose.
#include <gtest/gtest.h>
#include <proc/c3d_plane.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/c3d_ptRayZRotGenericPoly.h>

#include "support/geometry_expect.h"
#include "support/plane_terms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

tkXform<3> randomRigidPose(tkRandomUniform& rng) {
  return tkXform<3>(RandomUnitQuaternion(rng).rotationMatrix(), RandomVector3(rng, 2.0));
}

// Rz(θ) with cos θ and sin θ from τ = tan(θ/2), and translation t.
tkXform<3> zRotationPose(double tau, const tkVector<3>& t) {
  const double c = (1 - tau * tau) / (1 + tau * tau), s = 2 * tau / (1 + tau * tau);
  return tkXform<3>(tkMatrix<3>(c, -s, 0, s, c, 0, 0, 0, 1), t);
}

cstd_status add(c3d_ptRayGenericPoly& acc, const PlaneTerm& term) {
  const cmath_vect3 n = ToRecord(term.normal);
  return c3d_ptRayGenericPoly_addToValsWeighted(&acc, term.point.x(), term.point.y(),
                                                term.point.z(), &n, term.constant, term.weight);
}

cstd_status add(c3d_ptRayZRotGenericPoly& acc, const PlaneTerm& term) {
  const cmath_vect3 n = ToRecord(term.normal);
  return c3d_ptRayZRotGenericPoly_addToValsWeighted(&acc, term.point.x(), term.point.y(),
                                                    term.point.z(), &n, term.constant, term.weight);
}

template <typename Acc>
Acc accumulate(const std::vector<PlaneTerm>& terms) {
  Acc acc{};
  for (const PlaneTerm& term : terms)
    EXPECT_EQ(add(acc, term), CSTD_STATUS_OK);
  return acc;
}

// Value and gradient at rigid poses and (k >= 3) general matrices: the sum is a polynomial in the
// pose entries, so the form must hold for any matrix.
TEST(PtRayGenericPoly, ValueAndGradientAreTheDirectOnes) {
  tkRandomUniform rng(11);
  const std::vector<PlaneTerm> terms = RandomPlaneTerms(rng, 40);
  const c3d_ptRayGenericPoly acc = accumulate<c3d_ptRayGenericPoly>(terms);
  for (int k = 0; k < 5; ++k) {
    tkXform<3> pose = randomRigidPose(rng);
    if (k >= 3)
      pose.matrix(pose.matrix() * tkMatrix<3>(1.5, 0.2, 0, 0, 0.7, 0.3, 0.1, 0, 2));
    double direct[12] = {}, scale = 0.0;
    for (const PlaneTerm& term : terms) {
      const double r = PlaneResidual(term, pose);
      const double P[4] = {term.point.x(), term.point.y(), term.point.z(), 1.0};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) {
          const double g = 2 * term.weight * r * term.normal[i] * P[j];
          direct[j < 3 ? 3 * i + j : 9 + i] += g;
          scale += std::abs(g);
        }
    }
    const cmath_xformLinear3 poseRecord = ToRecord(pose);
    double value = 0.0, gradient[12];
    ASSERT_EQ(c3d_ptRayGenericPoly_evaluateWithGradient(&acc, &poseRecord, &value, gradient),
              CSTD_STATUS_OK);
    EXPECT_NEAR(value, DirectPlaneSum(terms, pose), 1e-12 * value) << "pose " << k;
    for (int e = 0; e < 12; ++e)
      EXPECT_NEAR(gradient[e], direct[e], 1e-13 * scale) << "pose " << k << ", entry " << e;
  }
}

// The use in the calibration solvers: the two planes through the viewing ray of an observed
// position m, weighted by w/Pc.z², sum to w·|Pc.xy/Pc.z − m|² at the pose where Pc is taken.
TEST(PtRayGenericPoly, ViewingRayPlanesGiveTheErrorAtZEquals1) {
  tkRandomUniform rng(11);
  const std::vector<PlaneTerm> terms = RandomPlaneTerms(rng, 40);
  const tkXform<3> pose(RandomUnitQuaternion(rng).rotationMatrix(), tkVector<3>(0.1, -0.2, 8));
  c3d_ptRayGenericPoly acc;
  c3d_ptRayGenericPoly_init(&acc);
  double expected = 0.0;
  for (const PlaneTerm& term : terms) {
    const tkVector<3> Pc = pose.mapPoint(term.point);
    const double mx = Pc.x() / Pc.z() + rng.next(-0.01, 0.01);
    const double my = Pc.y() / Pc.z() + rng.next(-0.01, 0.01);
    const double ex = Pc.x() / Pc.z() - mx, ey = Pc.y() / Pc.z() - my;
    expected += term.weight * (ex * ex + ey * ey);

    const cmath_vect3 origin{0, 0, 0}, direction{mx, my, 1};
    cmath_vect3 perps[2];
    double dots[2];
    ASSERT_EQ(c3d_computeBothCoordAxesPlanePerpsAndDots(&origin, &direction, perps, dots),
              CSTD_STATUS_OK);
    ASSERT_EQ(c3d_ptRayGenericPoly_addPlanePairWeighted(&acc, term.point.x(), term.point.y(),
                                                        term.point.z(), perps, dots,
                                                        term.weight / (Pc.z() * Pc.z())),
              CSTD_STATUS_OK);
  }
  const cmath_xformLinear3 poseRecord = ToRecord(pose);
  double value = 0.0;
  ASSERT_EQ(c3d_ptRayGenericPoly_evaluate(&acc, &poseRecord, &value), CSTD_STATUS_OK);
  // The quadratic form cancels terms of order w·|P|² down to w·error²·Pc.z² (error ~ 1e-2).
  EXPECT_NEAR(value, expected, 1e-9 * expected);
}

TEST(PtRayZRotGenericPoly, ValueAndDerivativesMatchDirectSumAndCentralDifferences) {
  tkRandomUniform rng(12);
  const std::vector<PlaneTerm> terms = RandomPlaneTerms(rng, 40);
  const c3d_ptRayZRotGenericPoly acc = accumulate<c3d_ptRayZRotGenericPoly>(terms);
  auto direct = [&](double tau, const tkVector<3>& t) {
    return DirectPlaneSum(terms, zRotationPose(tau, t));
  };
  // θ = 0, moderate angles, ±90° (τ = ±1) and near ±180°.
  for (double tau : {0.0, 0.3, -0.7, 1.0, -1.0, 25.0, -1e3}) {
    const tkVector<3> t = RandomVector3(rng, 2.0);
    double value = 0.0, gradient[4];
    ASSERT_EQ(c3d_ptRayZRotGenericPoly_evaluate(&acc, tau, t.x(), t.y(), t.z(), &value),
              CSTD_STATUS_OK);
    EXPECT_NEAR(value, direct(tau, t), 1e-12 * value) << "tau " << tau;
    ASSERT_EQ(c3d_ptRayZRotGenericPoly_gradient(&acc, tau, t.x(), t.y(), t.z(), gradient),
              CSTD_STATUS_OK);
    // dθ/dτ = 2/(1 + τ²): near 180° the sum varies on a τ-scale of |τ|, its slope like E/τ².
    const double tauScale = std::max(1.0, std::abs(tau));
    const double h = 1e-5 * tauScale;
    const double dTau = (direct(tau + h, t) - direct(tau - h, t)) / (2 * h);
    EXPECT_NEAR(gradient[0], dTau, 1e-7 * direct(tau, t) / (tauScale * tauScale)) << "tau " << tau;
    for (int k = 0; k < 3; ++k) {
      tkVector<3> step;
      step[k] = 1e-5;
      const double dT = (direct(tau, t + step) - direct(tau, t - step)) / 2e-5;
      EXPECT_NEAR(gradient[1 + k], dT, 1e-8 * direct(tau, t)) << "tau " << tau << " t" << k;
    }
    using Derivative =
        cstd_status (*)(const c3d_ptRayZRotGenericPoly*, double, double, double, double, double*);
    const Derivative single[4] = {c3d_ptRayZRotGenericPoly_DT, c3d_ptRayZRotGenericPoly_DTX,
                                  c3d_ptRayZRotGenericPoly_DTY, c3d_ptRayZRotGenericPoly_DTZ};
    for (int k = 0; k < 4; ++k) {
      double derivative = 0.0;
      ASSERT_EQ(single[k](&acc, tau, t.x(), t.y(), t.z(), &derivative), CSTD_STATUS_OK);
      EXPECT_EQ(derivative, gradient[k]) << "single derivative " << k;
    }
  }
}

cstd_status addPair(c3d_ptRayGenericPoly& acc, const PlaneTerm& a, const PlaneTerm& b) {
  const cmath_vect3 normals[2] = {ToRecord(a.normal), ToRecord(b.normal)};
  const double offsets[2] = {-a.constant, -b.constant};
  return c3d_ptRayGenericPoly_addPlanePairWeighted(&acc, a.point.x(), a.point.y(), a.point.z(),
                                                   normals, offsets, a.weight);
}

cstd_status addPair(c3d_ptRayZRotGenericPoly& acc, const PlaneTerm& a, const PlaneTerm& b) {
  const cmath_vect3 normals[2] = {ToRecord(a.normal), ToRecord(b.normal)};
  const double offsets[2] = {-a.constant, -b.constant};
  return c3d_ptRayZRotGenericPoly_addPlanePairWeighted(&acc, a.point.x(), a.point.y(), a.point.z(),
                                                       normals, offsets, a.weight);
}

// The gradient at the identity pose (entries 0, so a non-finite moment can only show through 0·∞).
cstd_status readAtOrigin(const c3d_ptRayGenericPoly& acc) {
  cmath_xformLinear3 identity;
  cmath_xformLinear3_construct(&identity);
  double gradient[12];
  return c3d_ptRayGenericPoly_gradient(&acc, &identity, gradient);
}

cstd_status readAtOrigin(const c3d_ptRayZRotGenericPoly& acc) {
  double gradient[4];
  return c3d_ptRayZRotGenericPoly_gradient(&acc, 0, 0, 0, 0, gradient);
}

// The records are plain arrays of doubles: compare them moment by moment.
template <typename Acc>
void expectSameMoments(const Acc& actual, const Acc& expected, double relativeTolerance) {
  const double* a = reinterpret_cast<const double*>(&actual);
  const double* e = reinterpret_cast<const double*>(&expected);
  const size_t count = sizeof(Acc) / sizeof(double);
  const double largest = std::abs(*std::max_element(
      e, e + count, [](double x, double y) { return std::abs(x) < std::abs(y); }));
  for (size_t k = 0; k < count; ++k)
    EXPECT_NEAR(a[k], e[k], relativeTolerance * largest) << "moment " << k;
}

// Input handling shared by both accumulators.
template <typename Acc>
class PtRayAccumulatorInput : public ::testing::Test {};
using AccumulatorTypes = ::testing::Types<c3d_ptRayGenericPoly, c3d_ptRayZRotGenericPoly>;
TYPED_TEST_SUITE(PtRayAccumulatorInput, AccumulatorTypes);

// Adds do not test their inputs; a non-finite one poisons the sum, and every reader reports it.
TYPED_TEST(PtRayAccumulatorInput, NonFiniteInputIsReportedByTheReaders) {
  const double bad[2] = {std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()};
  for (double value : bad) {
    for (int position = 0; position < 8; ++position) {
      PlaneTerm t{tkVector<3>(1, 2, 3), tkVector<3>(0, 1, 0), 0.5, 1.0};
      if (position < 3)
        t.point[position] = value;
      else if (position < 6)
        t.normal[position - 3] = value;
      else
        (position == 6 ? t.constant : t.weight) = value;
      TypeParam single{}, pair{};
      ASSERT_EQ(add(single, t), CSTD_STATUS_OK);
      ASSERT_EQ(addPair(pair, PlaneTerm{tkVector<3>(1, 2, 3), tkVector<3>(1, 0, 0), 0, 1}, t),
                CSTD_STATUS_OK);
      EXPECT_EQ(readAtOrigin(single), C3D_STATUS_NOT_FINITE) << "input " << position;
      if (position >= 3 && position != 7) {  // point and weight of a pair come from its first
        EXPECT_EQ(readAtOrigin(pair), C3D_STATUS_NOT_FINITE) << "pair input " << position;
      }
    }
  }
}

// Both planes of a correspondence in one step give the sum of the two single adds; a zero
// weight adds nothing, however large the other values.
TYPED_TEST(PtRayAccumulatorInput, PlanePairEqualsTwoSingleAddsAndZeroWeightAddsNothing) {
  tkRandomUniform rng(14);
  TypeParam pairs{}, singles{};
  const std::vector<PlaneTerm> terms = RandomPlaneTerms(rng, 20);
  for (size_t k = 0; k + 1 < terms.size(); k += 2) {
    PlaneTerm second = terms[k + 1];
    second.point = terms[k].point;
    second.weight = terms[k].weight;
    ASSERT_EQ(addPair(pairs, terms[k], second), CSTD_STATUS_OK);
    ASSERT_EQ(add(singles, terms[k]), CSTD_STATUS_OK);
    ASSERT_EQ(add(singles, second), CSTD_STATUS_OK);
  }
  expectSameMoments(pairs, singles, 1e-14);
  const TypeParam before = pairs;
  const PlaneTerm term{tkVector<3>(1e150, -3, 2), tkVector<3>(-0.5, 1e10, -1), 7.0, 0.0};
  ASSERT_EQ(add(pairs, term), CSTD_STATUS_OK);
  ASSERT_EQ(addPair(pairs, term, term), CSTD_STATUS_OK);
  EXPECT_EQ(std::memcmp(&pairs, &before, sizeof pairs), 0) << "the record changed bit for bit";
}

}  // namespace
