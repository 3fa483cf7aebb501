// Cost of rig calibration as the number of placements grows: tfCalibrateMultiplateMulticamera-
// ZRotationAndArbitrary with the radial model on generated rigs of 4 cameras (2448 x 2048 pixels,
// focal length about 2900 px, radial distortion up to a few tens of pixels) looking down at
// N placements of a 10 x 10-point plate (spacing 10 units), seen by every camera, image noise
// σ = 0.1 px. Placement 0 is the world frame (a Z-rotation placement at height 0), every tenth
// placement another Z-rotation placement (turned about Z, raised up to 40 units), the rest
// arbitrary placements tilted by up to about 20°. The data are generated once per N with a fixed
// seed, outside the timed loop.
//
// RigStep measures the framework's share alone: forming and solving the damped normal equations
// of one Levenberg-Marquardt step for the rig solver's layout (4 cameras of 14 values, N
// placements of 6, F the gradient) with a Jacobian of the rig's block pattern, on the dense path
// and with the declared structure.
#include "ccal/problem/parameter_layout.h"

#include <benchmark/benchmark.h>
#include <ccal/multicamera_calibration.h>
#include <tk/jacobian_structure.h>
#include <tk/levmar_solve.h>

#include "platform/core/structured_step.h"
#include "platform/proc/dense_step_solvers.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

constexpr int kCameras = 4;
constexpr int kPlateSide = 10;  // 100 points per view
constexpr double kPlatePitch = 10.0;

// World -> camera pose of a camera at centre looking at the world origin.
tk3QuaternionXform lookAtOrigin(const tkVector<3>& centre) {
  const tkVector<3> z = (tkVector<3>(0.0, 0.0, 0.0) - centre).unit();
  const tkVector<3> x = tkVector<3>(1.0, 0.0, 0.0).cross(z).unit();
  const tkVector<3> y = z.cross(x);
  tkMatrix<3> rotation;
  for (int c = 0; c < 3; ++c) {
    rotation.element(0, c, x[c]);
    rotation.element(1, c, y[c]);
    rotation.element(2, c, z[c]);
  }
  return tk3QuaternionXform(tkXform<3>(rotation, -(rotation * centre)));
}

struct Rig {
  tkMulticameraZRotationPlacements z;
  tkMulticameraArbitraryPlacements a;
};

Rig makeRig(int placements) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);

  Params truth;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> cameras;
  for (int c = 0; c < kCameras; ++c) {
    const double focal = 2800.0 + 60.0 * c;
    tkPhysicalAtZEquals1FromImageParams intrinsic;
    intrinsic.distModel(tk2XformCalib2Defs::eRadial);
    intrinsic.cameraScale(tkPair<double>(1.0 / focal, 1.0 / (focal * 1.001)));
    intrinsic.cameraSkew(-3e-8);
    intrinsic.cameraTranslation(tkVector<2>(-1224.0 / focal, -1024.0 / focal));
    intrinsic.centerOfExpansion(tkVector<2>(0.002 * (c - 1.5), -0.001 * c));
    intrinsic.k(c % 2 == 0 ? 0.04 : -0.06);
    intrinsics.push_back(intrinsic);
    const double angle = 2.0 * M_PI * (c + 0.3) / kCameras;
    cameras.push_back(
        lookAtOrigin(tkVector<3>(120.0 * std::cos(angle), 120.0 * std::sin(angle), 400.0)));
  }
  truth.physicalAtZEquals1FromImageParams(intrinsics);
  truth.cameraPoseInverses(cameras);

  const auto view = [&](const tkXform<3>& plateToWorld) {
    std::vector<tkMulticameraCrspList> lists(kCameras);
    for (int c = 0; c < kCameras; ++c)
      for (int a = 0; a < kPlateSide; ++a)
        for (int b = 0; b < kPlateSide; ++b) {
          const tkVector<3> P((a - 4.5) * kPlatePitch, (b - 4.5) * kPlatePitch, 0.0);
          const tkVector<2> p = truth.invWarpPoint(plateToWorld.mapPoint(P), c);
          lists[static_cast<std::size_t>(c)].push_back(
              {p + tkVector<2>(noise(random), noise(random)), P});
        }
    return lists;
  };

  Rig rig;
  for (int j = 0; j < placements; ++j) {
    if (j % 10 == 0) {
      const double height = j == 0 ? 0.0 : 40.0 * (0.5 + 0.5 * unit(random));
      const tk3ZRotationXform pose =
          j == 0 ? tk3ZRotationXform()
                 : tk3ZRotationXform(M_PI * unit(random),
                                     tkVector<3>(30.0 * unit(random), 30.0 * unit(random), height));
      rig.z.push_back({view(pose.xform()), height});
    } else {
      const tk3Quaternion turn =
          tk3Quaternion(1.0, 0.18 * unit(random), 0.18 * unit(random), 1.5 * unit(random))
              .normalised();
      const tk3QuaternionXform pose(
          turn, tkVector<3>(40.0 * unit(random), 40.0 * unit(random), 30.0 + 30.0 * unit(random)));
      rig.a.push_back(view(pose.xform()));
    }
  }
  return rig;
}

void RigCalibration(benchmark::State& state) {
  const int placements = static_cast<int>(state.range(0));
  const Rig rig = makeRig(placements);
  for (auto _ : state) {
    Params result;
    tfCalibrateMultiplateMulticameraZRotationAndArbitrary(tk2XformCalib2Defs::eRadial, rig.z, rig.a,
                                                          result);
    benchmark::DoNotOptimize(result);
  }
  state.counters["placements"] = placements;
  state.counters["points"] = static_cast<double>(placements) * kCameras * kPlateSide * kPlateSide;
}

BENCHMARK(RigCalibration)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// The rig layout of the bench: every camera (eRadial blocks) sees every arbitrary placement.
ccal::detail::ParameterLayout benchLayout(long placements) {
  return ccal::detail::ParameterLayout::calibration(tk2XformCalib2Defs::eRadial, kCameras, 0,
                                                    placements);
}

// The damped step of the rig layout (normal equations of a Jacobian with that pattern), dense or
// with the placements eliminated.
class RigStepProblem {
 public:
  RigStepProblem(long placements, bool structured) : n_(n(placements)) {
    const long size = n_;
    const tkJacobianStructure structure =
        benchLayout(placements)
            .gradientStructure(
                size, [](long, const ccal::detail::ParameterLayout::Block&) { return true; });
    // Entries of the pattern from a fixed generator, dominant diagonal.
    jacobian_.assign(static_cast<std::size_t>(size * size), 0.0);
    f_.resize(static_cast<std::size_t>(size));
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (long b = 0; b < structure.parameterBlocks(); ++b)
      for (long g : structure.groupsOf(b))
        for (long i = 0; i < structure.parameterCount(b); ++i)
          for (long r = 0; r < structure.rowCount(g); ++r)
            at(structure.rowStart(g) + r, structure.parameterStart(b) + i) = unit(random);
    for (long i = 0; i < size; ++i) {
      at(i, i) += 10.0;
      f_[static_cast<std::size_t>(i)] = unit(random);
    }
    diagonal_.resize(f_.size());
    damping_.resize(f_.size());
    step_.resize(f_.size());
    if (structured)
      solver_ = std::make_unique<ccal::detail::StructuredStep>(
          structure, ccal::detail::BlockArrowheadSystem::Kind::kNormalEquations);
    else
      solver_ = std::make_unique<ccal::detail::DenseNormalEquations>(size, size);
  }
  static long n(long placements) { return benchLayout(placements).size(); }
  long size() const { return n_; }
  bool step() {
    solver_->prepare(jacobian_.data(), f_.data(), diagonal_.data());
    for (std::size_t i = 0; i < diagonal_.size(); ++i)
      damping_[i] = 1e-3 * diagonal_[i];
    return solver_->solve(damping_.data(), step_.data());
  }

 private:
  double& at(long r, long c) { return jacobian_[static_cast<std::size_t>(r + c * n_)]; }
  long n_;
  std::vector<double> jacobian_, f_, diagonal_, damping_, step_;
  std::unique_ptr<ccal::detail::StepSolver> solver_;
};

void RigStep(benchmark::State& state, bool structured) {
  RigStepProblem solver(state.range(0), structured);
  for (auto _ : state) {
    if (!solver.step())
      state.SkipWithError("the step failed");
  }
  state.counters["n"] = static_cast<double>(solver.size());
}

BENCHMARK_CAPTURE(RigStep, dense, false)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RigStep, structured, true)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond);

}  // namespace
