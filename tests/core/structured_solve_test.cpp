// The structured solve of the normal equations (a declared tkJacobianStructure) against the dense
// path: the same step for the same Jacobian, and the same minimisation, on a small "rig" of two
// shared blocks (cameras) and many local blocks (placements), in residual and in gradient form,
// and on the planar calibration solver, which declares its structure itself.
#include "platform/core/calib2/planar_calibration_solver.h"

#include <tk/angle_vect.h>
#include <tk/failure.h>
#include <tk/jacobian_structure.h>
#include <tk/levmar_solve.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr long kCameras = 2;
constexpr long kCameraBlock = 3;
constexpr long kPlacements = 12;
constexpr long kPlacementBlock = 2;
constexpr long kSamples = 4;
constexpr long kN = kCameras * kCameraBlock + kPlacements * kPlacementBlock;

// Camera c sees placement p: camera 0 every placement but the last two, camera 1 every third
// placement and the last two.
bool sees(long c, long p) {
  return c == 0 ? p < kPlacements - 2 : (p % 3 == 0 || p >= kPlacements - 2);
}

long cameraStart(long c) {
  return c * kCameraBlock;
}
long placementStart(long p) {
  return kCameras * kCameraBlock + p * kPlacementBlock;
}

// Residual k of observation (c, p): a·sin(u + b·t) + v·t² + d·u·t − y, t = 0.3·k.
struct Observation {
  long c, p, k;
  double y;
};

double model(const double* x, long c, long p, long k) {
  const double* cam = x + cameraStart(c);
  const double* pl = x + placementStart(p);
  const double t = 0.3 * static_cast<double>(k);
  return cam[0] * std::sin(pl[0] + cam[1] * t) + pl[1] * t * t + cam[2] * pl[0] * t;
}

// d model / d (a, b, d, u, v).
void partials(const double* x, long c, long p, long k, double out[5]) {
  const double* cam = x + cameraStart(c);
  const double* pl = x + placementStart(p);
  const double t = 0.3 * static_cast<double>(k);
  const double wave = std::cos(pl[0] + cam[1] * t);
  out[0] = std::sin(pl[0] + cam[1] * t);
  out[1] = cam[0] * wave * t;
  out[2] = pl[0] * t;
  out[3] = cam[0] * wave + cam[2] * t;
  out[4] = t * t;
}

std::vector<double> truth() {
  std::vector<double> x(kN);
  for (long c = 0; c < kCameras; ++c)
    for (long i = 0; i < kCameraBlock; ++i)
      x[static_cast<std::size_t>(cameraStart(c) + i)] = 1.0 + 0.3 * c - 0.2 * i;
  for (long p = 0; p < kPlacements; ++p) {
    x[static_cast<std::size_t>(placementStart(p))] = 0.1 * p - 0.4;
    x[static_cast<std::size_t>(placementStart(p) + 1)] = 0.5 + 0.05 * p;
  }
  return x;
}

std::vector<Observation> observations(double noise) {
  std::mt19937 random(3);
  std::normal_distribution<double> gauss(0.0, noise);
  const std::vector<double> x = truth();
  std::vector<Observation> out;
  for (long c = 0; c < kCameras; ++c)
    for (long p = 0; p < kPlacements; ++p)
      if (sees(c, p))
        for (long k = 0; k < kSamples; ++k)
          out.push_back({c, p, k, model(x.data(), c, p, k) + (noise > 0 ? gauss(random) : 0.0)});
  return out;
}

// The block of parameter index: camera (c, -1) or placement (-1, p); (-1, -1) for all.
void blockOf(long index, long& c, long& p) {
  c = p = -1;
  if (index < 0)
    return;
  if (index < kCameras * kCameraBlock)
    c = index / kCameraBlock;
  else
    p = (index - kCameras * kCameraBlock) / kPlacementBlock;
}

// Settings of the calibration solvers, iteration limit 100.
class RigSolver : public tkLevMarSolve {
 public:
  RigSolver(bool gradientForm, std::vector<Observation> data)
      : tkLevMarSolve(kN, gradientForm ? kN : static_cast<long>(data.size()), 1e-12, 1e-30, 100, 15,
                      0.01, 1e-8, 1e20, true, true),
        gradientForm_(gradientForm),
        data_(std::move(data)) {
    std::vector<bool> starts(kN, false);
    for (long c = 0; c < kCameras; ++c)
      starts[static_cast<std::size_t>(cameraStart(c))] = true;
    for (long p = 0; p < kPlacements; ++p)
      starts[static_cast<std::size_t>(placementStart(p))] = true;
    recomputeYVals(starts);
  }

  // Parameter blocks: cameras, then placements. Row groups: the same blocks (gradient form) or
  // the observations of each placement (residual form).
  tkJacobianStructure structure() const {
    std::vector<long> blocks;
    for (long c = 0; c < kCameras; ++c)
      blocks.push_back(cameraStart(c));
    for (long p = 0; p < kPlacements; ++p)
      blocks.push_back(placementStart(p));
    if (gradientForm_) {
      tkJacobianStructure s(kN, kN, blocks, blocks);
      for (long c = 0; c < kCameras; ++c) {
        s.couple(c, c);
        for (long p = 0; p < kPlacements; ++p)
          if (sees(c, p)) {
            s.couple(c, kCameras + p);
            s.couple(kCameras + p, c);
          }
      }
      for (long p = 0; p < kPlacements; ++p) {
        s.couple(kCameras + p, kCameras + p);
        s.eliminate(kCameras + p);
      }
      return s;
    }
    std::vector<long> rows;
    long previous = -1;
    for (std::size_t r = 0; r < data_.size(); ++r) {
      // data_ is ordered by camera, then placement: a new group at each (c, p).
      const long key = data_[r].c * kPlacements + data_[r].p;
      if (key != previous)
        rows.push_back(static_cast<long>(r));
      previous = key;
    }
    tkJacobianStructure s(kN, static_cast<long>(data_.size()), blocks, rows);
    long group = 0;
    previous = -1;
    for (std::size_t r = 0; r < data_.size(); ++r) {
      const long key = data_[r].c * kPlacements + data_[r].p;
      if (key == previous)
        continue;
      if (previous != -1)
        ++group;
      previous = key;
      s.couple(data_[r].c, group);
      s.couple(kCameras + data_[r].p, group);
    }
    for (long p = 0; p < kPlacements; ++p)
      s.eliminate(kCameras + p);
    return s;
  }

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
    long sc, sp;
    blockOf(recomputeY() ? index : kAllEntries, sc, sp);
    for (std::size_t r = 0; r < data_.size(); ++r) {
      const Observation& o = data_[r];
      if ((sc != -1 && o.c != sc) || (sp != -1 && o.p != sp))
        continue;
      const double residual = model(x.data(), o.c, o.p, o.k) - o.y;
      if (!gradientForm_) {
        f(static_cast<long>(r), 0) = residual;
        continue;
      }
      double d[5];
      partials(x.data(), o.c, o.p, o.k, d);
      for (long i = 0; i < kCameraBlock; ++i)
        f(cameraStart(o.c) + i, 0) += residual * d[i];
      for (long i = 0; i < kPlacementBlock; ++i)
        f(placementStart(o.p) + i, 0) += residual * d[kCameraBlock + i];
    }
    return 0;
  }

  // The step of the current x with damping lambda·diag(JᵀJ), through the protected machinery.
  std::vector<double> dampedStep(double lambda) {
    evaluate(getX(), f());
    EXPECT_EQ(compJacob(getX(), f(), jacobian()), 0);
    formNormalEquations();
    for (long i = 0; i < kN; ++i)
      damping()(i, 0) = lambda * normal()(i, i);
    EXPECT_TRUE(solveNormalEquations(normal(), damping(), rhs(), step()));
    return std::vector<double>(step().data(), step().data() + kN);
  }

 private:
  bool gradientForm_;
  std::vector<Observation> data_;
};

tkNMMatrix start() {
  std::vector<double> x = truth();
  tkNMMatrix column(kN, 1);
  for (long i = 0; i < kN; ++i)
    column(i, 0) = x[static_cast<std::size_t>(i)] * (1.0 + 0.02 * std::sin(1.7 * i + 0.3));
  return column;
}

double relativeDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double difference = 0.0, size = 0.0;
  for (long i = 0; i < a.rows(); ++i) {
    difference = std::max(difference, std::fabs(a(i, 0) - b(i, 0)));
    size = std::max(size, std::fabs(a(i, 0)));
  }
  return difference / size;
}

class StructuredSolve : public ::testing::TestWithParam<bool> {};

TEST_P(StructuredSolve, StepEqualsTheDenseStep) {
  const bool gradientForm = GetParam();
  RigSolver dense(gradientForm, observations(0.01));
  RigSolver structured(gradientForm, observations(0.01));
  structured.jacobianStructure(structured.structure());
  dense.setX(start());
  structured.setX(start());
  for (double lambda : {1e-2, 1e-6}) {
    const std::vector<double> a = dense.dampedStep(lambda);
    const std::vector<double> b = structured.dampedStep(lambda);
    double largest = 0.0;
    for (double v : a)
      largest = std::max(largest, std::fabs(v));
    ASSERT_GT(largest, 1e-6);
    for (long i = 0; i < kN; ++i)
      EXPECT_NEAR(b[static_cast<std::size_t>(i)], a[static_cast<std::size_t>(i)], 1e-11 * largest)
          << "parameter " << i << ", lambda " << lambda;
  }
}

TEST_P(StructuredSolve, MinimisationEqualsTheDensePath) {
  const bool gradientForm = GetParam();
  for (double noise : {0.0, 0.01}) {
    RigSolver dense(gradientForm, observations(noise));
    RigSolver structured(gradientForm, observations(noise));
    structured.jacobianStructure(structured.structure());
    dense.setX(start());
    structured.setX(start());
    dense.minimize();
    structured.minimize();
    // A residual column with noise has a non-zero minimum of |F|², which comparisons of |F|²
    // locate only to about √ε: there the two paths may stop an iteration apart.
    const bool flatMinimum = !gradientForm && noise > 0.0;
    if (!flatMinimum) {
      EXPECT_EQ(structured.termination(), dense.termination());
      EXPECT_EQ(structured.iterationsDone(), dense.iterationsDone());
    }
    EXPECT_LT(relativeDifference(structured.getX(), dense.getX()), flatMinimum ? 1e-7 : 1e-10)
        << "noise " << noise;
    if (noise == 0.0) {
      tkNMMatrix expected(kN, 1);
      const std::vector<double> x = truth();
      for (long i = 0; i < kN; ++i)
        expected(i, 0) = x[static_cast<std::size_t>(i)];
      EXPECT_LT(relativeDifference(structured.getX(), expected), 1e-9);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ResidualAndGradientForm, StructuredSolve, ::testing::Bool());

TEST(StructuredSolveDeclaration, RejectsMalformedStructures) {
  EXPECT_THROW(tkJacobianStructure(4, 4, {1, 2}, {0}), tkInvariantFailure);
  EXPECT_THROW(tkJacobianStructure(4, 4, {0, 2, 2}, {0}), tkInvariantFailure);
  EXPECT_THROW(tkJacobianStructure(4, 4, {0, 4}, {0}), tkInvariantFailure);
  tkJacobianStructure s(4, 3, {0, 2}, {0, 1});
  EXPECT_THROW(s.couple(2, 0), tkInvariantFailure);
  EXPECT_THROW(s.couple(0, 2), tkInvariantFailure);
  EXPECT_THROW(s.eliminate(-1), tkInvariantFailure);
  s.couple(1, 1);
  s.couple(1, 0);
  s.couple(1, 1);
  EXPECT_EQ(s.groupsOf(1), (std::vector<long>{0, 1}));
  EXPECT_EQ(s.parameterCount(1), 2);
  EXPECT_EQ(s.rowCount(1), 2);
  EXPECT_EQ(s.blockOfParameter(3), 1);
  RigSolver solver(true, observations(0.0));
  EXPECT_THROW(solver.jacobianStructure(s), tkInvariantFailure);
  solver.jacobianStructure(tkJacobianStructure());  // back to dense: allowed
}

TEST(StructuredSolveDeclaration, ABlockWithoutObservationsKeepsItsStart) {
  // Placement 0 seen by nobody: its block of JᵀJ is zero and only the damping floor keeps the
  // system regular, on both paths; its parameters must not move.
  std::vector<Observation> data;
  for (const Observation& o : observations(0.0))
    if (o.p != 0)
      data.push_back(o);
  RigSolver dense(false, data);
  RigSolver structured(false, data);
  structured.jacobianStructure(structured.structure());
  dense.setX(start());
  structured.setX(start());
  dense.minimize();
  structured.minimize();
  EXPECT_LT(relativeDifference(structured.getX(), dense.getX()), 1e-10);
  for (long i = 0; i < kPlacementBlock; ++i)
    EXPECT_EQ(structured.getX()(placementStart(0) + i, 0), start()(placementStart(0) + i, 0));
}

TEST(StructuredSolveDeclaration, PlanarCalibrationSolverStructuredEqualsDense) {
  tk_CameraIntrinsics camera;
  camera.model = CCAL_DISTORTION_RADIAL;
  camera.scaleX = 1.3;
  camera.scaleY = 1.25;
  camera.skew = 0.01;
  camera.transX = 0.1;
  camera.transY = -0.2;
  camera.lens[0] = -0.08;
  camera.centreX = 0.01;
  camera.centreY = -0.02;
  std::vector<std::vector<tk_PlanarObservation>> views;
  std::vector<tkXform<3>> poses, starts;
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0.0, 1e-3);
  for (int v = 0; v < 6; ++v) {
    const tkXform<3> pose(tk3AngleVect(0.3 - 0.1 * v, 0.2 * (v % 3) - 0.2, 0.5 * v).matrix(),
                          tkVector<3>(0.1 * v - 0.2, -0.2, 4.0 + 0.2 * v));
    std::vector<tk_PlanarObservation> view;
    for (int i = -3; i <= 3; ++i)
      for (int j = -2; j <= 2; ++j) {
        const tkVector<3> P = pose.mapPoint(tkVector<3>(0.4 * i, 0.5 * j, 0.0));
        const double pc[3] = {P.x(), P.y(), P.z()};
        double image[2];
        ASSERT_TRUE(tk_projectCameraPoint(camera, pc, image, nullptr));
        view.push_back({tkVector<2>(image[0] + noise(random), image[1] + noise(random)),
                        tkVector<2>(0.4 * i, 0.5 * j)});
      }
    views.push_back(view);
    starts.push_back(tkXform<3>(pose.matrix(), pose.trans() + tkVector<3>(0.01, -0.01, 0.05)));
  }
  tk_CameraIntrinsics start = camera;
  start.scaleX *= 1.01;
  start.lens[0] = 0.0;
  tk_PlanarCalibrationSolver structured(views, start, tk_IntrinsicsFreedom::eFull, false, starts,
                                        100);
  tk_PlanarCalibrationSolver dense(views, start, tk_IntrinsicsFreedom::eFull, false, starts, 100);
  ASSERT_FALSE(structured.jacobianStructure().empty());
  dense.jacobianStructure(tkJacobianStructure());
  structured.minimize();
  dense.minimize();
  // A residual column with noise: the minimum is located to about √ε (see above).
  EXPECT_LT(relativeDifference(structured.getX(), dense.getX()), 1e-7);
  EXPECT_NEAR(structured.camera().lens[0], camera.lens[0], 1e-3);
}

}  // namespace
