// The numerical parts of the planar calibration: the solver's F and K against finite
// differences of its merit (which also checks the projection derivatives it chains; the lens
// derivatives themselves: camera_model_derivatives_test), the normalised homography, and the
// closed-form camera matrix; and that the solver's iterations allocate nothing.
#include <gtest/gtest.h>
#include <tk/exception.h>

#include "allocation_probe.h"
#include "platform/core/calib2/camera_intrinsics.h"
#include "platform/core/calib2/homography.h"
#include "platform/core/calib2/intrinsics_closed_form.h"
#include "platform/core/calib2/planar_calibration_solver.h"
#include "support/geometry_expect.h"

#include <Eigen/Dense>

#include <cmath>
#include <utility>
#include <vector>

namespace {

tk_CameraIntrinsics cameraWith(int32_t model) {
  tk_CameraIntrinsics c;
  c.model = model;
  c.scaleX = 1.3;
  c.scaleY = 1.25;
  c.skew = 0.01;
  c.transX = 0.1;
  c.transY = -0.2;
  if (model == CCAL_DISTORTION_RADIAL)
    c.lens[0] = -0.08;
  if (model == CCAL_DISTORTION_SINE_TAN) {
    const double p[4] = {0.93, 1.02, 0.084, 0.98};
    std::copy(p, p + 4, c.lens);
  }
  if (model != CCAL_DISTORTION_NONE) {
    c.centreX = 0.01;
    c.centreY = -0.02;
  }
  return c;
}

// Image point of pc under camera.
tkVector<2> project(const tk_CameraIntrinsics& camera, const double pc[3]) {
  double image[2] = {0.0, 0.0};
  EXPECT_EQ(camera.cameraModel().project(pc, image, nullptr), ccal::detail::ProjectionStatus::kOk);
  return tkVector<2>(image[0], image[1]);
}

// A camera, poses and plate views of a small synthetic scene in normalised units (image spread
// about 1, plate spread about 1), for the solver's Jacobian.
struct SolverScene {
  std::vector<std::vector<tk_PlanarObservation>> views;
  std::vector<tkXform<3>> poses;
};

SolverScene solverScene(const tk_CameraIntrinsics& camera, double offset = 1.0) {
  SolverScene scene;
  const tk3AngleVect angles[3] = {{0.3, -0.2, 0.1}, {-0.4, 0.1, 1.2}, {0.1, 0.5, -0.7}};
  for (const tk3AngleVect& a : angles) {
    const tkXform<3> pose(a.matrix(), tkVector<3>(0.1, -0.2, 4.0));
    std::vector<tk_PlanarObservation> view;
    for (int i = -2; i <= 2; ++i)
      for (int j = -1; j <= 1; ++j) {
        const tkVector<2> plate(0.5 * i, 0.7 * j);
        const tkVector<3> P = pose.mapPoint(tkVector<3>(plate.x(), plate.y(), 0.0));
        const double pc[3] = {P.x(), P.y(), P.z()};
        // Offset image points: the residual is not zero, as during the iteration.
        view.push_back({project(camera, pc) + offset * tkVector<2>(0.01 * i, -0.02 * j), plate});
      }
    scene.views.push_back(view);
    scene.poses.push_back(pose);
  }
  return scene;
}

// Homography of a camera K looking at a plane with pose (R, t): K [r1 r2 t].
Eigen::Matrix3d planeHomography(const Eigen::Matrix3d& K, const tkXform<3>& pose) {
  Eigen::Matrix3d Rt;
  for (int r = 0; r < 3; ++r) {
    Rt(r, 0) = pose.matrix().element(r, 0);
    Rt(r, 1) = pose.matrix().element(r, 1);
    Rt(r, 2) = pose.trans()[r];
  }
  return K * Rt;
}

// Homographies of count views of a plate (three poses at most) under K.
std::vector<Eigen::Matrix3d> homographies(const Eigen::Matrix3d& K, int count) {
  const tk3AngleVect angles[3] = {{0.5, -0.2, 0.3}, {-0.3, 0.45, 1.4}, {0.2, 0.3, -2.0}};
  std::vector<Eigen::Matrix3d> out;
  for (int v = 0; v < count; ++v)
    out.push_back(
        planeHomography(K, tkXform<3>(angles[v].matrix(), tkVector<3>(0.2 * v, -0.1, 3.0 + v))));
  return out;
}

}  // namespace

// ---- the solver's derivatives -----------------------------------------------------------------

class PlanarSolverJacobian : public ::testing::TestWithParam<std::pair<int32_t, bool>> {};

// The solver works on F = ∇(Σ r²) with K = 2·JᵀJ: F must be the merit's gradient where the
// residuals are not zero, and K the derivative of F where they are.
struct MeritProbe : tk_PlanarCalibrationSolver {
  using tk_PlanarCalibrationSolver::merit;
  using tk_PlanarCalibrationSolver::tk_PlanarCalibrationSolver;
};

TEST_P(PlanarSolverJacobian, GradientOfTheMeritAndItsGaussNewtonDerivative) {
  tk_CameraIntrinsics camera = cameraWith(GetParam().first);
  if (camera.model == CCAL_DISTORTION_SINE_TAN)  // the solver's constraint p0/p1 + p2/p3 = 1
    camera.lens[0] = camera.lens[1] * (1.0 - camera.lens[2] / camera.lens[3]);
  for (tk_IntrinsicsFreedom freedom : {tk_IntrinsicsFreedom::eFull, tk_IntrinsicsFreedom::eZeroSkew,
                                       tk_IntrinsicsFreedom::eSquareCentred}) {
    // One scale under eSquareCentred: the exact scene must be made by a camera of that form.
    tk_CameraIntrinsics truth = camera;
    if (freedom == tk_IntrinsicsFreedom::eSquareCentred)
      truth.scaleY = truth.scaleX;
    const SolverScene offset = solverScene(camera), exact = solverScene(truth, 0.0);
    MeritProbe solver(offset.views, camera, freedom, GetParam().second, offset.poses, 10);
    const long n = solver.getSize();
    tkNMMatrix f(n, 1), k(n, n), numeric(n, n);
    ASSERT_EQ(solver.Func(solver.getX(), f), 0);
    for (long i = 0; i < n; ++i) {
      tkNMMatrix plus = solver.getX(), minus = solver.getX();
      plus(i, 0) += 1e-6;
      minus(i, 0) -= 1e-6;
      const double slope = (solver.merit(plus) - solver.merit(minus)) / 2e-6;
      EXPECT_NEAR(f(i, 0), slope, 1e-5 * (1.0 + std::abs(slope))) << "F " << i;
    }
    MeritProbe atTruth(exact.views, truth, freedom, GetParam().second, exact.poses, 10);
    ASSERT_EQ(atTruth.Func(atTruth.getX(), f), 0);
    ASSERT_EQ(atTruth.compJacob(atTruth.getX(), f, k), 0);
    ASSERT_EQ(atTruth.tkFSolver::compJacob(atTruth.getX(), f, numeric), 0);
    for (long c = 0; c < n; ++c)
      for (long r = 0; r < n; ++r)
        ASSERT_NEAR(k(r, c), numeric(r, c), 2e-6 * (1.0 + std::abs(numeric(r, c))))
            << "column " << c << " row " << r << " freedom " << static_cast<int>(freedom);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLensBlock, PlanarSolverJacobian,
                         ::testing::Values(std::make_pair(CCAL_DISTORTION_NONE, false),
                                           std::make_pair(CCAL_DISTORTION_RADIAL, false),
                                           std::make_pair(CCAL_DISTORTION_SINE_TAN, false),
                                           std::make_pair(CCAL_DISTORTION_SINE_TAN, true)));

// The iterations allocate nothing: F and K (each view's rows and their rank update), the
// structured step and the trials.
TEST(PlanarSolver, IterationsAllocateNothing) {
  const tk_CameraIntrinsics camera = cameraWith(CCAL_DISTORTION_SINE_TAN);
  const SolverScene scene = solverScene(camera);
  tk_PlanarCalibrationSolver solver(scene.views, camera, tk_IntrinsicsFreedom::eFull, false,
                                    scene.poses, 3);
  const tkNMMatrix start = solver.getX();
  solver.minimize();  // the first minimisation sizes the step's work space
  solver.setX(start);
  AllocationProbe probe;
  solver.minimize();
  EXPECT_EQ(probe.largest(), 0u);
  EXPECT_EQ(solver.iterationsDone(), 3);
}

// ---- homography -------------------------------------------------------------------------------

TEST(Homography, RecoversAnExactMappingUpToScale) {
  Eigen::Matrix3d H;
  H << 900.0, 35.0, 310.0, -20.0, 870.0, 255.0, 0.05, -0.08, 1.0;
  std::vector<tkVector<2>> from, to;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) {
      const Eigen::Vector3d x = H * Eigen::Vector3d(0.3 * i - 0.6, 0.25 * j - 0.4, 1.0);
      from.emplace_back(0.3 * i - 0.6, 0.25 * j - 0.4);
      to.emplace_back(x(0) / x(2), x(1) / x(2));
    }
  const Eigen::Matrix3d found = tk_computeHomography(from, to);
  EXPECT_NEAR(found.norm(), 1.0, 1e-14);
  EXPECT_LT((found / found(2, 2) - H).norm() / H.norm(), 1e-12);
  // Four points in general position determine it too.
  const Eigen::Matrix3d fromFour =
      tk_computeHomography({from[0], from[4], from[15], from[19]}, {to[0], to[4], to[15], to[19]});
  EXPECT_LT((fromFour / fromFour(2, 2) - H).norm() / H.norm(), 1e-12);
}

// ---- closed-form camera matrix ------------------------------------------------------------------

TEST(ClosedFormIntrinsics, ThreeTwoAndOneViewsGiveWhatTheyDetermine) {
  // Three views: the whole matrix; two: a zero-skew camera; one: the focal length of a square
  // camera centred on the axis.
  const std::pair<tk_IntrinsicsFreedom, std::vector<double>> cases[] = {
      {tk_IntrinsicsFreedom::eFull, {2.1, 0.02, 0.15, 2.05, -0.1}},
      {tk_IntrinsicsFreedom::eZeroSkew, {2.1, 0.0, 0.15, 2.05, -0.1}},
      {tk_IntrinsicsFreedom::eSquareCentred, {1.7, 0.0, 0.0, 1.7, 0.0}}};
  int views = 3;
  for (const auto& c : cases) {
    const std::vector<double>& k = c.second;
    Eigen::Matrix3d K;
    K << k[0], k[1], k[2], 0.0, k[3], k[4], 0.0, 0.0, 1.0;
    const tk_ClosedFormIntrinsics found =
        tk_intrinsicsFromHomographies(homographies(K, views--), 2.0);
    EXPECT_EQ(found.freedom, c.first);
    EXPECT_LT((found.K - K).norm(), 1e-10);
  }
}

TEST(ClosedFormIntrinsics, FrontoParallelViewsFallBackToTheNominalFocalLength) {
  Eigen::Matrix3d K = Eigen::Matrix3d::Identity();
  K(0, 0) = K(1, 1) = 1.7;
  std::vector<Eigen::Matrix3d> views;
  for (int v = 0; v < 3; ++v)  // parallel plates, turned about the optical axis only
    views.push_back(planeHomography(
        K, tkXform<3>(tk3AngleVect(0.0, 0.0, 0.4 * v).matrix(), tkVector<3>(0.1 * v, 0.0, 3.0))));
  const tk_ClosedFormIntrinsics found = tk_intrinsicsFromHomographies(views, 2.5);
  EXPECT_EQ(found.freedom, tk_IntrinsicsFreedom::eNominal);
  EXPECT_EQ(found.K(0, 0), 2.5);
  EXPECT_EQ(found.K(1, 1), 2.5);
}
