// Pose gradients in the three-value quaternion form: exact derivatives of the map the solvers
// use (setUsingUnitValIndex with a stored index), checked against central differences.
#include <gtest/gtest.h>
#include <tk/failure.h>
#include <tk/quaternion_partials.h>

#include "support/geometry_expect.h"
#include "support/plane_terms.h"

#include <cmath>
#include <limits>

namespace {

class QuaternionPartials : public ::testing::Test {
 protected:
  void SetUp() override {
    terms_ = RandomPlaneTerms(rng_, 30);
    c3d_ptRayGenericPoly_init(&acc_);
    for (const PlaneTerm& term : terms_) {
      const cmath_vect3 n = ToRecord(term.normal);
      ASSERT_EQ(
          c3d_ptRayGenericPoly_addToValsWeighted(&acc_, term.point.x(), term.point.y(),
                                                 term.point.z(), &n, term.constant, term.weight),
          CSTD_STATUS_OK);
    }
  }

  // The directly summed cost at the quaternion a solver rebuilds from its held index and three
  // free values.
  double direct(int held, const double (&v)[3], const tkVector<3>& t) const {
    tk3Quaternion q;
    q.setUsingUnitValIndex(held, v[0], v[1], v[2]);
    return DirectPlaneSum(terms_, tkXform<3>(q.rotationMatrix(), t));
  }

  // Checks the six partials at (q, t) for the form holding `held` against central differences
  // of the directly summed cost, each step relative to its value.
  void expectMatchesCentralDifferences(const tk3Quaternion& q, const tkVector<3>& t, int held) {
    double partials[6];
    tfGetQuaternionPartialDerivatives(tk3QuaternionXform(q, t), held, acc_, partials);
    double v[3];
    for (int k = 0, i = 0; i < 4; ++i)
      if (i != held)
        v[k++] = q[i] / q[held];
    const double E = direct(held, v, t);
    for (int k = 0; k < 3; ++k) {
      const double h = 1e-5 * std::max(1.0, std::abs(v[k]));
      double plus[3] = {v[0], v[1], v[2]}, minus[3] = {v[0], v[1], v[2]};
      plus[k] += h;
      minus[k] -= h;
      const double fd = (direct(held, plus, t) - direct(held, minus, t)) / (2 * h);
      // The rotation moves with v_k on a scale of max(1, |v_k|)² (|u|² grows as v_k²).
      const double scale = std::max(1.0, v[k] * v[k]);
      EXPECT_NEAR(partials[k], fd, 1e-7 * E / scale) << "var" << k + 1 << ", held " << held;
    }
    for (int k = 0; k < 3; ++k) {
      tkVector<3> step;
      step[k] = 1e-6;
      const double fd = (direct(held, v, t + step) - direct(held, v, t - step)) / 2e-6;
      EXPECT_NEAR(partials[3 + k], fd, 1e-7 * E) << "translation " << k << ", held " << held;
    }
  }

  tkRandomUniform rng_{41};
  std::vector<PlaneTerm> terms_;
  c3d_ptRayGenericPoly acc_;
};

TEST_F(QuaternionPartials, MatchCentralDifferencesForEveryHeldComponent) {
  for (int k = 0; k < 5; ++k) {
    const tk3Quaternion q = RandomUnitQuaternion(rng_);
    const tkVector<3> t = RandomVector3(rng_, 2.0);
    for (int held = 0; held < 4; ++held)
      if (std::abs(q[held]) >= 0.05)  // free values beyond 20: covered below
        expectMatchesCentralDifferences(q, t, held);
  }
  // The default form holds the largest component.
  const tk3QuaternionXform pose(tk3Quaternion(0.2, -0.3, 0.9, 0.1), tkVector<3>(1, 2, 3));
  double byDefault[6], explicitIndex[6];
  tfGetQuaternionPartialDerivatives(pose, acc_, byDefault);
  tfGetQuaternionPartialDerivatives(pose, 2, acc_, explicitIndex);
  for (int k = 0; k < 6; ++k)
    EXPECT_EQ(byDefault[k], explicitIndex[k]) << k;
}

// Near 180° the real part is small: the largest component holds the form, and a solver whose
// stored index is that of the real part (packed before the rotation drifted) sees free values
// of several hundred.
TEST_F(QuaternionPartials, MatchCentralDifferencesNearAHalfTurn) {
  const tk3Quaternion nearHalfTurn = tk3Quaternion(2e-3, 0.6, -0.64, 0.48).normalised();
  const tkVector<3> t(0.3, 0.1, -1.0);
  for (int held = 0; held < 4; ++held)
    expectMatchesCentralDifferences(nearHalfTurn, t, held);
  expectMatchesCentralDifferences(tk3Quaternion(0.0, 0.0, 0.6, -0.8), t, 2);  // exactly 180°
}

TEST_F(QuaternionPartials, BadArgumentsThrowTypedExceptions) {
  const tk3QuaternionXform halfTurn(tk3Quaternion(0, 1, 0, 0), tkVector<3>());
  double partials[6] = {};
  EXPECT_THROW(tfGetQuaternionPartialDerivatives(halfTurn, 4, acc_, partials), tkInvariantFailure);
  EXPECT_THROW(tfGetQuaternionPartialDerivatives(halfTurn, 0, acc_, partials),
               tkMathError::Singular)
      << "the held component is 0: the free values would be infinite";
  c3d_ptRayGenericPoly overflowed = acc_;
  overflowed.constantMoments[1][2] = std::numeric_limits<double>::infinity();
  EXPECT_THROW(tfGetQuaternionPartialDerivatives(halfTurn, 1, overflowed, partials),
               tkInvariantFailure);
}

}  // namespace
