// The multi-plate solvers declare the block structure of their Jacobian: the structured solve
// must reproduce the dense path's minimisation (same iterations, same result to rounding) for the
// rig, pose-only and single-camera solvers, on a rig where one camera misses some placements.
#include "ccal/multicam/multiplate_solvers.h"
#include "rig_scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// Three cameras, the scene's placements plus four arbitrary ones; camera 2 misses arbitrary
// placements 1 and 3.
struct Scene {
  Params truth;
  tk_ZRotationData zData;
  tk_ArbitraryData aData;
};

Scene makeScene(Model model) {
  Scene s;
  s.truth = tfRigSceneTruth(3, model);
  std::vector<tk3QuaternionXform> aPoses = s.truth.arbitraryCalibrationPlatePoses();
  for (int j = 1; j <= 4; ++j)
    aPoses.push_back(
        tk3QuaternionXform(tk3Quaternion(1.0, 0.05 * j - 0.1, 0.03 * (j % 2), 0.2 * j).normalised(),
                           tkVector<3>(0.02 * j - 0.05, 0.01 * j, 0.03 * j)));
  s.truth.arbitraryCalibrationPlatePoses(aPoses);
  tfRigSceneData(s.truth, s.zData, s.aData, 5);
  s.aData[1][2].clear();
  s.aData[3][2].clear();
  return s;
}

using ccal::detail::ParameterLayout;

tkNMMatrix perturbedStart(const Params& truth, ParameterLayout& problem) {
  tkNMMatrix x(problem.size(), 1);
  problem.pack(truth, x.data());
  for (long i = 0; i < problem.size(); ++i)
    x(i, 0) += 2e-3 * std::sin(1.3 * static_cast<double>(i) + 0.5);
  return x;
}

double relativeDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double difference = 0.0, size = 0.0;
  for (long i = 0; i < a.rows(); ++i) {
    difference = std::max(difference, std::fabs(a(i, 0) - b(i, 0)));
    size = std::max(size, std::fabs(a(i, 0)));
  }
  return difference / size;
}

// Runs a filled solver with its declared structure and again on the dense path.
template <class Solver, class Fill>
void expectStructuredEqualsDense(long n, Fill fill) {
  Solver structured(n);
  Solver dense(n);
  fill(structured);
  fill(dense);
  ASSERT_FALSE(structured.jacobianStructure().empty()) << "the solver declares no structure";
  dense.jacobianStructure(tkJacobianStructure());
  structured.minimize();
  dense.minimize();
  // Both converge to the same point. Where the gradient's Jacobian is poorly conditioned (the
  // intrinsics with the weakly determined centre of expansion) the last iterations creep, and
  // rounding differences may change their number by one or two.
  EXPECT_EQ(structured.termination(), dense.termination());
  EXPECT_NEAR(static_cast<double>(structured.iterationsDone()),
              static_cast<double>(dense.iterationsDone()), 2.0);
  EXPECT_LT(relativeDifference(structured.getX(), dense.getX()), 1e-10);
}

class MultiplateStructure : public ::testing::TestWithParam<Model> {};

// Gives a rig or pose-only solver the scene, its layout's held indices and the start x0.
template <class Solver>
void fillRigSolver(Solver& solver, const Scene& s, const ParameterLayout& problem,
                   const tkNMMatrix& x0) {
  solver.cameraUnitValIndices(problem.cameraUnitValIndices());
  solver.arbitraryUnitValIndices(problem.arbitraryUnitValIndices());
  solver.setX(x0);
  solver.startingParams(s.truth);
  solver.zRotationData(s.zData);
  solver.arbitraryData(s.aData);
}

// The rig solver and the pose-only one, on the same scene and the same filling.
template <class Solver>
void expectRigSolverStructuredEqualsDense(Model model, bool poseOnly) {
  const Scene s = makeScene(model);
  ParameterLayout problem = tfRigLayout(s.truth, poseOnly);
  const tkNMMatrix x0 = perturbedStart(s.truth, problem);
  expectStructuredEqualsDense<Solver>(problem.size(), [&](auto& solver) {
    fillRigSolver(solver, s, problem, x0);
    solver.recomputeYVals(problem.blockStartFlags());
  });
}

TEST_P(MultiplateStructure, RigAndPoseSolversStructuredEqualDense) {
  expectRigSolverStructuredEqualsDense<
      tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver>(GetParam(), false);
  expectRigSolverStructuredEqualsDense<tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver>(
      GetParam(), true);
}

TEST_P(MultiplateStructure, SingleCameraSolverStructuredEqualsDense) {
  const Scene s = makeScene(GetParam());
  Params one;  // camera 0 alone
  one.physicalAtZEquals1FromImageParams({s.truth.physicalAtZEquals1FromImageParams()[0]});
  one.cameraPoseInverses({s.truth.cameraPoseInverses()[0]});
  one.calibrationPlatePoses(s.truth.calibrationPlatePoses());
  one.arbitraryCalibrationPlatePoses(s.truth.arbitraryCalibrationPlatePoses());
  ParameterLayout problem = tfRigLayout(one, false);
  const tkNMMatrix x0 = perturbedStart(one, problem);
  tk_MultiplateCameraEstimate estimate;
  estimate.camera.physicalAtZEquals1FromImageParams(one.physicalAtZEquals1FromImageParams()[0]);
  estimate.camera.cameraPoseInverse(one.cameraPoseInverses()[0]);
  estimate.calibrationPlatePoses = one.calibrationPlatePoses();
  estimate.arbitraryCalibrationPlatePoses = one.arbitraryCalibrationPlatePoses();
  tk_ZRotationData1 z;
  for (const auto& placement : s.zData)
    z.push_back({placement.first[0], placement.second});
  tk_ArbitraryData1 a;
  for (const auto& placement : s.aData)
    a.push_back(placement[0]);
  expectStructuredEqualsDense<tk3DCalibrationMultiplateZRotationAndArbitrarySolver>(
      problem.size(), [&](auto& solver) {
        solver.cameraUnitValIndex(problem.cameraUnitValIndices()[0]);
        solver.arbitraryUnitValIndices(problem.arbitraryUnitValIndices());
        solver.setX(x0);
        solver.startingParams(estimate);
        solver.zRotationData(z);
        solver.arbitraryData(a);
        solver.recomputeYVals(problem.blockStartFlags());
      });
}

INSTANTIATE_TEST_SUITE_P(Models, MultiplateStructure,
                         ::testing::Values(tk2XformCalib2Defs::eRadial));

TEST(MultiplateStructureDeclaration, PlacementsCoupleWithTheCamerasThatSawThem) {
  const Scene s = makeScene(tk2XformCalib2Defs::eRadial);
  ParameterLayout problem = tfRigLayout(s.truth, false);
  const tkNMMatrix x0 = perturbedStart(s.truth, problem);
  tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(problem.size());
  fillRigSolver(solver, s, problem, x0);
  const tkJacobianStructure& st = solver.jacobianStructure();
  // 3 cameras, Z-rotation placement 1, arbitrary placements 0 .. 4.
  ASSERT_EQ(st.parameterBlocks(), 3 + 1 + 5);
  EXPECT_EQ(st.groupsOf(0), (std::vector<long>{0, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(st.groupsOf(2), (std::vector<long>{2, 3, 4, 6, 8}));
  EXPECT_EQ(st.groupsOf(5), (std::vector<long>{0, 1, 5}));  // arbitrary 1: not camera 2
  EXPECT_FALSE(st.eliminated(2));
  EXPECT_TRUE(st.eliminated(3));
  EXPECT_TRUE(st.eliminated(8));
}

}  // namespace
