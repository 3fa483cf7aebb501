// After the first evaluation has sized the work space, an iteration of the rig solver (F with the
// cost kept for the merit, the merit at another x, K, and F for a block selection) allocates
// nothing, for every residual kind.
#include "../multicam/rig_scene.h"
#include "allocation_probe.h"
#include "ccal/multicam/image_refinement_problem.h"
#include "ccal/multicam/image_residual_problem.h"
#include "ccal/multicam/multiplate_solvers.h"
#include "platform/core/structured_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

template <class Solver>
void expectIterationWithoutAllocation(tk2XformCalib2Defs::tkCalib2DistortionModel model,
                                      bool poseOnly) {
  const auto truth = tfRigSceneTruth(2, model);
  tk_ZRotationData zData;
  tk_ArbitraryData aData;
  tfRigSceneData(truth, zData, aData);
  ccal::detail::ParameterLayout layout = tfRigLayout(truth, poseOnly);
  const long n = layout.size();
  tkNMMatrix x(n, 1);
  layout.pack(truth, x.data());
  Solver solver(n);
  solver.cameraUnitValIndices(layout.cameraUnitValIndices());
  solver.arbitraryUnitValIndices(layout.arbitraryUnitValIndices());
  solver.setX(x);
  solver.startingParams(truth);
  solver.zRotationData(zData);
  solver.arbitraryData(aData);
  solver.recomputeYVals(layout.blockStartFlags());
  tkNMMatrix f(n, 1), k;
  ASSERT_EQ(solver.Func(x, f), 0);
  ASSERT_EQ(solver.compJacob(x, f, k), 0);
  ASSERT_EQ(solver.FuncI(x, f, 0), 0);
  tkNMMatrix moved = x;
  for (long i = 0; i < n; ++i)
    moved(i, 0) += 1e-4 * std::sin(static_cast<double>(i));
  {
    AllocationProbe probe;
    ASSERT_EQ(solver.Func(moved, f), 0);
    EXPECT_GT(solver.cost(moved), 0.0);  // the kept cost
    EXPECT_GT(solver.cost(x) + 1.0, 0.0);  // a fresh evaluation
    ASSERT_EQ(solver.compJacob(moved, f, k), 0);
    ASSERT_EQ(solver.FuncI(moved, f, n - 1), 0);
    EXPECT_EQ(probe.largest(), 0u) << "model " << model << (poseOnly ? ", pose only" : "");
  }
}

TEST(MultiplateAllocation, AnIterationOfTheRigSolverAllocatesNothing) {
  for (auto model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                     tk2XformCalib2Defs::eSineTan}) {
    expectIterationWithoutAllocation<
        tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver>(model, false);
    expectIterationWithoutAllocation<tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver>(
        model, true);
  }
}

// The refinement on image residuals: F, the merit, K and the structured damped step allocate
// nothing once the first evaluation has sized K.
TEST(MultiplateAllocation, AnIterationOfTheImageResidualRefinementAllocatesNothing) {
  for (auto model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
                     tk2XformCalib2Defs::eSineTan}) {
    const auto truth = tfRigSceneTruth(2, model);
    tk_ZRotationData zData;
    tk_ArbitraryData aData;
    tfRigSceneData(truth, zData, aData);
    ccal::detail::ImageResidualProblem residuals(zData, aData, truth, false);
    ccal::detail::ImageRefinementProblem problem(residuals);
    ccal::detail::StructuredStep step(problem.structure(),
                                      ccal::detail::BlockArrowheadSystem::Kind::kNewtonSystem);
    const std::size_t n = static_cast<std::size_t>(problem.parameters());
    std::vector<double> x = residuals.start(), f(n);
    std::vector<double> diagonal(n), damping(n), delta(n);
    ASSERT_EQ(problem.evaluate(x.data(), f.data()), 0);
    for (std::size_t i = 0; i < n; ++i)
      x[i] += 1e-4 * std::sin(static_cast<double>(i));
    AllocationProbe probe;
    EXPECT_GT(problem.merit(x.data()), 0.0);
    ASSERT_EQ(problem.evaluate(x.data(), f.data()), 0);
    ASSERT_EQ(problem.linearize(x.data(), f.data()), 0);
    step.prepare(problem.jacobian(), f.data(), diagonal.data());
    for (std::size_t i = 0; i < n; ++i)
      damping[i] = 1e-3 * diagonal[i] + 1e-12;
    EXPECT_TRUE(step.solve(damping.data(), delta.data()));
    EXPECT_EQ(probe.largest(), 0u) << "model " << model;
  }
}

}  // namespace
