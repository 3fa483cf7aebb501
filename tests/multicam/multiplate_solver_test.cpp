// The multi-plate solvers' F and K: F against numerical derivatives of the costs it is the
// gradient of (the frozen-weight terms under eNoDistortion/eRadial and pose-only, the image cost
// under eSineTan), block selection, and K against differences of F.
#include "ccal/multicam/multiplate_solvers.h"
#include "rig_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

// A rig solver filled with the scene and started from a perturbed copy of the truth.
struct Filled {
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams start;
  tk_ZRotationData zData;
  tk_ArbitraryData aData;
  tkNMMatrix x;
};

using ccal::detail::ParameterLayout;

template <class Solver>
void fill(Solver& solver, const Filled& f, const ParameterLayout& packed) {
  solver.cameraUnitValIndices(packed.cameraUnitValIndices());
  solver.arbitraryUnitValIndices(packed.arbitraryUnitValIndices());
  solver.setX(f.x);
  solver.startingParams(f.start);
  solver.zRotationData(f.zData);
  solver.arbitraryData(f.aData);
}

Filled scene(Model model, bool poseOnly, ParameterLayout& packed) {
  Filled f;
  const auto truth = tfRigSceneTruth(2, model);
  tfRigSceneData(truth, f.zData, f.aData);
  f.start = truth;
  packed = tfRigLayout(truth, poseOnly);
  f.x = tkNMMatrix(packed.size(), 1);
  packed.pack(truth, f.x.data());
  for (long i = 0; i < packed.size(); ++i)  // move away from the solution
    f.x(i, 0) += 1e-3 * std::sin(1.7 * static_cast<double>(i) + 0.3);
  return f;
}

// G(x) = intrinsic terms with q frozen at x0 + pose terms with m and depth frozen at x0: the
// analytic F at x0 is its gradient there.
double frozenCost(const tk_MultiplateProblem& problem, const Filled& f, const double* x0,
                  const double* x) {
  tk_MultiplateValues at0, at;
  problem.unpack(x0, at0);
  problem.unpack(x, at);
  double sum = 0.0;
  const auto term = [&](std::size_t c, const tk_WeightedCrsp& k, const tkXform<3>& pose0,
                        const tkXform<3>& pose) {
    const tk_CameraValues& c0 = at0.cameras[c];
    const tk_CameraValues& c1 = at.cameras[c];
    const tkVector<3> Pc0 = c0.rotation * pose0.mapPoint(k.first.second) + c0.trans;
    const tkVector<2> q0(Pc0.x() / Pc0.z(), Pc0.y() / Pc0.z());
    const tk_IntrinsicValues& v0 = c0.intrinsic;
    const tk_IntrinsicValues& v = c1.intrinsic;
    const tkVector<2>& p = k.first.first;
    const auto warp = [&](const tk_IntrinsicValues& i) {
      const tkVector<2> d(i.sx * p.x() + i.skew * p.y() + i.tx, i.sy * p.y() + i.ty);
      const tkVector<2> e(d.x() - i.cx, d.y() - i.cy);
      const double kk = i.model == tk2XformCalib2Defs::eRadial ? i.lens[0] : 0.0;
      return tkVector<2>(d.x() + kk * e.dot(e) * e.x(), d.y() + kk * e.dot(e) * e.y());
    };
    const tkVector<2> W = warp(v);
    const tkVector<2> m = warp(v0);
    const double w = k.second;
    if (!problem.layout.poseOnly())
      sum += w * ((W.x() - q0.x()) * (W.x() - q0.x()) / (v.sx * v.sx) +
                  (W.y() - q0.y()) * (W.y() - q0.y()) / (v.sy * v.sy));
    const tkVector<3> Pc = c1.rotation * pose.mapPoint(k.first.second) + c1.trans;
    const double a = Pc.x() - m.x() * Pc.z(), b = Pc.y() - m.y() * Pc.z();
    sum += w * (a * a + b * b) / (Pc0.z() * Pc0.z());
  };
  for (std::size_t j = 0; j < f.zData.size(); ++j)
    for (std::size_t c = 0; c < f.zData[j].first.size(); ++c)
      for (const tk_WeightedCrsp& k : f.zData[j].first[c])
        term(c, k, at0.zPoses[j], at.zPoses[j]);
  for (std::size_t j = 0; j < f.aData.size(); ++j)
    for (std::size_t c = 0; c < f.aData[j].size(); ++c)
      for (const tk_WeightedCrsp& k : f.aData[j][c])
        term(c, k, at0.aPoses[j].xform(), at.aPoses[j].xform());
  return sum;
}

template <class Solver>
void expectAnalyticGradient(Model model, bool poseOnly) {
  ParameterLayout packed;
  const Filled f = scene(model, poseOnly, packed);
  Solver solver(packed.size());
  fill(solver, f, packed);
  tkNMMatrix F(packed.size(), 1);
  ASSERT_EQ(solver.Func(f.x, F), 0);
  const double* x0 = f.x.data();
  std::vector<double> x(x0, x0 + packed.size());
  for (long i = 0; i < packed.size(); ++i) {
    const double h = 1e-6;
    x[static_cast<std::size_t>(i)] = x0[i] + h;
    const double up = frozenCost(solver.problem(), f, x0, x.data());
    x[static_cast<std::size_t>(i)] = x0[i] - h;
    const double down = frozenCost(solver.problem(), f, x0, x.data());
    x[static_cast<std::size_t>(i)] = x0[i];
    const double numerical = (up - down) / (2 * h);
    EXPECT_NEAR(F(i, 0), numerical, 1e-6 * (1.0 + std::fabs(numerical))) << "parameter " << i;
  }
}

TEST(MultiplateGradient, AnalyticEqualsNumericalDerivativeOfItsTerms) {
  expectAnalyticGradient<tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver>(
      tk2XformCalib2Defs::eRadial, false);
  expectAnalyticGradient<tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver>(
      tk2XformCalib2Defs::eNoDistortion, false);
  expectAnalyticGradient<tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver>(
      tk2XformCalib2Defs::eRadial, true);
}

// Every index's selection keeps the rows its block reaches, with the values of the full F (up to
// rounding), and leaves the other blocks' rows at 0.
TEST(MultiplateGradient, BlockSelectionKeepsTheRowsItsBlockReaches) {
  for (Model model : {tk2XformCalib2Defs::eRadial, tk2XformCalib2Defs::eSineTan}) {
    ParameterLayout packed;
    const Filled f = scene(model, false, packed);
    tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(packed.size());
    fill(solver, f, packed);
    solver.recomputeYVals(std::vector<bool>(static_cast<std::size_t>(packed.size()), true));
    const tk_MultiplateProblem& pr = solver.problem();
    // Camera 1 selected: camera 0's block is all 0.
    tkNMMatrix F(pr.size(), 1);
    ASSERT_EQ(solver.FuncI(f.x, F, pr.layout.cameraBlockSize() + 2), 0);
    for (long m = 0; m < pr.layout.cameraBlockSize(); ++m)
      EXPECT_EQ(F(m, 0), 0.0);
    EXPECT_NE(F(pr.layout.cameraBlockSize() + 2, 0), 0.0);
    // Z-rotation placement 1 selected: the arbitrary rows are 0, its own rows are not.
    F = tkNMMatrix(pr.size(), 1);
    ASSERT_EQ(solver.FuncI(f.x, F, pr.layout.zRotationStart(1) + 1), 0);
    for (long m = pr.layout.arbitraryStart(0); m < pr.size(); ++m)
      EXPECT_EQ(F(m, 0), 0.0);
    EXPECT_NE(F(pr.layout.zRotationStart(1), 0), 0.0);
    // The selected block's own rows equal the full evaluation's.
    tkNMMatrix full(pr.size(), 1);
    solver.recomputeYVals({});
    ASSERT_EQ(solver.FuncI(f.x, full, 3), 0);
    solver.recomputeYVals(std::vector<bool>(static_cast<std::size_t>(pr.size()), true));
    F = tkNMMatrix(pr.size(), 1);
    ASSERT_EQ(solver.FuncI(f.x, F, pr.layout.arbitraryStart(0)), 0);
    for (long m = pr.layout.arbitraryStart(0); m < pr.size(); ++m)
      EXPECT_NEAR(F(m, 0), full(m, 0), 1e-9 * (1.0 + std::fabs(full(m, 0))));
  }
}

// Under eSineTan F is 2·∇E: twice the central difference of the image cost, up to that
// difference's own error.
TEST(MultiplateGradient, SineTanRowIsTwiceTheDerivativeOfTheCost) {
  ParameterLayout packed;
  const Filled f = scene(tk2XformCalib2Defs::eSineTan, false, packed);
  tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(packed.size());
  fill(solver, f, packed);
  tkNMMatrix F(packed.size(), 1);
  ASSERT_EQ(solver.Func(f.x, F), 0);
  for (long i = 0; i < packed.size(); ++i) {
    tkNMMatrix up = f.x, down = f.x;
    up(i, 0) += 1e-6;
    down(i, 0) -= 1e-6;
    const double expected = (solver.cost(up) - solver.cost(down)) / 1e-6;
    EXPECT_NEAR(F(i, 0), expected, 1e-6 * (1.0 + std::fabs(expected))) << i;
  }
}

// Where every residual vanishes (exact data at the truth) the Gauss-Newton K of compJacob is the
// Jacobian of F: compared with central differences of F, for every solver kind and model, with
// the declared blocks only (the rest of K stays 0).
template <class Solver>
void expectJacobianOfF(Model model, bool poseOnly) {
  ParameterLayout packed;
  Filled f = scene(model, poseOnly, packed);
  packed.pack(f.start, f.x.data());  // back at the truth
  Solver solver(packed.size());
  fill(solver, f, packed);
  const long n = packed.size();
  tkNMMatrix F(n, 1), K;
  ASSERT_EQ(solver.Func(f.x, F), 0);
  ASSERT_EQ(solver.compJacob(f.x, F, K), 0);
  ASSERT_EQ(K.rows(), n);
  double largest = 0.0;
  for (long i = 0; i < n * n; ++i)
    largest = std::max(largest, std::fabs(K.data()[i]));
  const tkJacobianStructure& structure = solver.jacobianStructure();
  tkNMMatrix up(n, 1), down(n, 1);
  for (long j = 0; j < n; ++j) {
    const double h = 1e-6 * (1.0 + std::fabs(f.x(j, 0)));
    tkNMMatrix xUp = f.x, xDown = f.x;
    xUp(j, 0) += h;
    xDown(j, 0) -= h;
    ASSERT_EQ(solver.Func(xUp, up), 0);
    ASSERT_EQ(solver.Func(xDown, down), 0);
    for (long i = 0; i < n; ++i) {
      const double numerical = (up(i, 0) - down(i, 0)) / (2.0 * h);
      EXPECT_NEAR(K(i, j), numerical, 1e-6 * largest) << "row " << i << " column " << j;
      const std::vector<long>& groups = structure.groupsOf(structure.blockOfParameter(j));
      if (std::find(groups.begin(), groups.end(), structure.blockOfParameter(i)) == groups.end()) {
        EXPECT_EQ(K(i, j), 0.0) << "row " << i << " column " << j;
      }
    }
  }
}

TEST(MultiplateJacobian, GaussNewtonKIsTheJacobianOfFAtAnExactFit) {
  for (Model model :
       {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial, tk2XformCalib2Defs::eSineTan}) {
    SCOPED_TRACE(model);
    expectJacobianOfF<tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver>(model, false);
    expectJacobianOfF<tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver>(model, true);
  }
}

// A correspondence at depth 0 changes nothing; an exception inside becomes 0x80000000.
TEST(MultiplateGradient, DepthZeroPointsAddNothingAndFailuresBecomeAStatus) {
  ParameterLayout packed;
  Filled f = scene(tk2XformCalib2Defs::eRadial, false, packed);
  tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(packed.size());
  fill(solver, f, packed);
  tkNMMatrix before(packed.size(), 1), after(packed.size(), 1);
  ASSERT_EQ(solver.Func(f.x, before), 0);
  // A plate point in camera 0's plane Pc.z = 0 (placement 0 is the world frame).
  tk_MultiplateValues values;
  solver.problem().unpack(f.x.data(), values);
  const tkXform<3> cam(values.cameras[0].rotation, values.cameras[0].trans);
  const tkVector<3> inPlane = cam.inverse().mapPoint(tkVector<3>(0.3, 0.2, 0.0));
  f.zData[0].first[0].push_back({{tkVector<2>(10.0, 20.0), inPlane}, 1.0});
  solver.zRotationData(f.zData);
  ASSERT_EQ(solver.Func(f.x, after), 0);
  for (long i = 0; i < packed.size(); ++i)
    EXPECT_EQ(after(i, 0), before(i, 0));
  tkNMMatrix bad = f.x;
  bad(5, 0) = std::nan("");
  EXPECT_EQ(solver.Func(bad, after), static_cast<long>(INT32_MIN));
}

}  // namespace
