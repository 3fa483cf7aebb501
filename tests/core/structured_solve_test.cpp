// Block structure in the solver framework, on a small "rig" of two shared blocks (cameras) and
// many local blocks (placements), in the gradient form the rig solvers use: the block-wise
// Jacobian against the full numerical one, and a structured minimisation (a declared
// tkJacobianStructure) against the dense one where a block has no observations. The structured
// step itself: step_solver_test.
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

tkNMMatrix truth() {
  tkNMMatrix x(kN, 1);
  for (long c = 0; c < kCameras; ++c)
    for (long i = 0; i < kCameraBlock; ++i)
      x(cameraStart(c) + i, 0) = 1.0 + 0.3 * c - 0.2 * i;
  for (long p = 0; p < kPlacements; ++p) {
    x(placementStart(p), 0) = 0.1 * p - 0.4;
    x(placementStart(p) + 1, 0) = 0.5 + 0.05 * p;
  }
  return x;
}

tkNMMatrix start() {
  tkNMMatrix x = truth();
  for (long i = 0; i < kN; ++i)
    x(i, 0) *= 1.0 + 0.02 * std::sin(1.7 * i + 0.3);
  return x;
}

// Ordered by camera, then placement.
std::vector<Observation> observations(double noise) {
  std::mt19937 random(3);
  std::normal_distribution<double> gauss(0.0, noise);
  const tkNMMatrix x = truth();
  std::vector<Observation> out;
  for (long c = 0; c < kCameras; ++c)
    for (long p = 0; p < kPlacements; ++p)
      if (sees(c, p))
        for (long k = 0; k < kSamples; ++k)
          out.push_back({c, p, k, model(x.data(), c, p, k) + (noise > 0 ? gauss(random) : 0.0)});
  return out;
}

// Settings of the calibration solvers, iteration limit 100; block flags at every camera and
// placement start. FuncI honours its index when recomputeY() is: a camera parameter evaluates
// that camera's observations only, a placement parameter that placement's.
class RigSolver : public tkLevMarSolve {
 public:
  explicit RigSolver(std::vector<Observation> data, bool blockJacobian = true)
      : tkLevMarSolve(kN, kN, 1e-12, 1e-30, 100, 15, 0.01, 1e-8, 1e20, true, blockJacobian),
        data_(std::move(data)) {
    std::vector<bool> starts(kN, false);
    for (long b : blockStarts())
      starts[static_cast<std::size_t>(b)] = true;
    recomputeYVals(starts);
  }

  static std::vector<long> blockStarts() {
    std::vector<long> blocks;
    for (long c = 0; c < kCameras; ++c)
      blocks.push_back(cameraStart(c));
    for (long p = 0; p < kPlacements; ++p)
      blocks.push_back(placementStart(p));
    return blocks;
  }

  // Parameter blocks and row groups: cameras, then placements (eliminated); a camera and a
  // placement it sees are coupled.
  tkJacobianStructure structure() const {
    const std::vector<long> blocks = blockStarts();
    tkJacobianStructure s(kN, kN, blocks, blocks);
    for (const Observation& o : data_) {
      const long c = o.c, p = kCameras + o.p;
      s.couple(c, c);
      s.couple(c, p);
      s.couple(p, c);
      s.couple(p, p);
    }
    for (long p = 0; p < kPlacements; ++p)
      s.eliminate(kCameras + p);
    return s;
  }

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
    long onlyCamera = -1, onlyPlacement = -1;
    if (recomputeY() && index >= kCameras * kCameraBlock)
      onlyPlacement = (index - kCameras * kCameraBlock) / kPlacementBlock;
    else if (recomputeY() && index >= 0)
      onlyCamera = index / kCameraBlock;
    for (std::size_t r = 0; r < data_.size(); ++r) {
      const Observation& o = data_[r];
      if ((onlyCamera != -1 && o.c != onlyCamera) || (onlyPlacement != -1 && o.p != onlyPlacement))
        continue;
      ++observationsEvaluated;
      const double residual = model(x.data(), o.c, o.p, o.k) - o.y;
      // Accumulates: relies on the framework handing over a zero-filled f.
      double d[5];
      partials(x.data(), o.c, o.p, o.k, d);
      for (long i = 0; i < kCameraBlock; ++i)
        f(cameraStart(o.c) + i, 0) += residual * d[i];
      for (long i = 0; i < kPlacementBlock; ++i)
        f(placementStart(o.p) + i, 0) += residual * d[kCameraBlock + i];
    }
    return 0;
  }

  tkNMMatrix jacobianAt(const tkNMMatrix& x) {
    tkNMMatrix value(getFunctionSize(), 1), jacobian;
    Func(x, value);
    EXPECT_EQ(compJacob(x, value, jacobian), 0);
    return jacobian;
  }

  mutable long observationsEvaluated = 0;

 private:
  std::vector<Observation> data_;
};

double relativeDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double difference = 0.0, size = 0.0;
  for (long i = 0; i < a.size(); ++i) {
    difference = std::max(difference, std::fabs(a.data()[i] - b.data()[i]));
    size = std::max(size, std::fabs(b.data()[i]));
  }
  return difference / size;
}

TEST(BlockStructure, BlockJacobianEqualsTheFullOneAtAFractionOfTheCost) {
  RigSolver full(observations(0.01), false);
  RigSolver blockWise(observations(0.01));
  ASSERT_TRUE(blockWise.recomputeY());
  ASSERT_FALSE(full.recomputeY()) << "the flags alone do not make the Jacobian block-wise";
  const tkNMMatrix reference = full.jacobianAt(start());
  blockWise.observationsEvaluated = 0;
  const tkNMMatrix jacobian = blockWise.jacobianAt(start());
  EXPECT_LT(relativeDifference(jacobian, reference), 1e-6);
  // The value, then per block its base and one perturbed evaluation per parameter, each of the
  // block's observations; over the cameras and over the placements these add up to all.
  const long all = static_cast<long>(observations(0.0).size());
  EXPECT_EQ(blockWise.observationsEvaluated, all * (1 + (1 + kCameraBlock) + (1 + kPlacementBlock)))
      << "the base must be evaluated once per block, not once per parameter";
}

TEST(StructuredSolveDeclaration, RejectsMalformedStructuresAndFlags) {
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
  EXPECT_EQ(s.blockOfParameter(3), 1);
  RigSolver solver(observations(0.0));
  EXPECT_THROW(solver.jacobianStructure(s), tkInvariantFailure) << "sizes differ";
  solver.jacobianStructure(tkJacobianStructure());  // back to dense: allowed
  EXPECT_THROW(solver.recomputeYVals(std::vector<bool>(3, true)), tkInvariantFailure);
}

TEST(StructuredSolveDeclaration, ABlockWithoutObservationsKeepsItsStart) {
  // Placement 0 seen by nobody: its block of JᵀJ is zero and only the damping floor keeps the
  // system regular, on both paths; its parameters must not move.
  std::vector<Observation> data;
  for (const Observation& o : observations(0.0))
    if (o.p != 0)
      data.push_back(o);
  RigSolver dense(data), structured(data);
  structured.jacobianStructure(structured.structure());
  dense.setX(start());
  structured.setX(start());
  dense.minimize();
  structured.minimize();
  EXPECT_LT(relativeDifference(structured.getX(), dense.getX()), 1e-10);
  // Exact data: every other parameter reaches the truth.
  for (long i = 0; i < kN; ++i) {
    const bool unseen = i >= placementStart(0) && i < placementStart(1);
    EXPECT_NEAR(structured.getX()(i, 0), unseen ? start()(i, 0) : truth()(i, 0), unseen ? 0 : 1e-9)
        << i;
  }
}

}  // namespace
