// Cost of the refinement on image residuals and of the calibration uncertainty as the placements
// grow: tfRefineOnImageResiduals (from the truth, on noisy data) and tfCalibrationUncertainty
// (at the truth) with the radial model on generated rigs. Cases: 1 camera seeing N views of a
// 20 x 15-point plate (300 points), and 4 cameras seeing N placements of a 10 x 10-point plate
// (100 points), image noise σ = 0.1 px. Placement 0 is the world frame, every tenth placement a
// Z-rotation placement, the rest arbitrary placements tilted by up to about 20°. The data are
// generated once per case with a fixed seed, outside the timed loop. Run one case at a time under
// /usr/bin/time -v for its peak memory (docs/image-refinement.md, docs/uncertainty.md).
#include <benchmark/benchmark.h>
#include <ccal/calibration_uncertainty.h>
#include <ccal/image_refinement.h>
#include <ccal/multicamera_calibration.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

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

struct Scene {
  Params truth;
  tkMulticameraZRotationPlacementsWeighted z;
  tkMulticameraArbitraryPlacementsWeighted a;
};

Scene makeScene(int cameras, int placements, int columns, int rows) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);
  const double pitch = 100.0 / columns;
  Scene scene;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> poses;
  for (int c = 0; c < cameras; ++c) {
    const double focal = 2800.0 + 60.0 * c;
    tkPhysicalAtZEquals1FromImageParams intrinsic;
    intrinsic.distModel(tk2XformCalib2Defs::eRadial);
    intrinsic.cameraScale(tkPair<double>(1.0 / focal, 1.0 / (focal * 1.001)));
    intrinsic.cameraSkew(-3e-8);
    intrinsic.cameraTranslation(tkVector<2>(-1224.0 / focal, -1024.0 / focal));
    intrinsic.centerOfExpansion(tkVector<2>(0.002 * (c - 1.5), -0.001 * c));
    intrinsic.k(c % 2 == 0 ? 0.04 : -0.06);
    intrinsics.push_back(intrinsic);
    const double angle = 2.0 * M_PI * (c + 0.3) / cameras;
    const double off = cameras > 1 ? 120.0 : 0.0;
    poses.push_back(lookAtOrigin(
        tkVector<3>(off * std::cos(angle) + 1.0, off * std::sin(angle) + 2.0, 400.0)));
  }
  scene.truth.physicalAtZEquals1FromImageParams(intrinsics);
  scene.truth.cameraPoseInverses(poses);
  std::vector<tk3ZRotationXform> zPoses;
  std::vector<tk3QuaternionXform> aPoses;
  const auto view = [&](const tkXform<3>& plateToWorld) {
    std::vector<tkMulticameraWeightedList> lists(static_cast<std::size_t>(cameras));
    for (int c = 0; c < cameras; ++c)
      for (int i = 0; i < columns; ++i)
        for (int j = 0; j < rows; ++j) {
          const tkVector<3> P((i - 0.5 * (columns - 1)) * pitch, (j - 0.5 * (rows - 1)) * pitch,
                              0.0);
          const tkVector<2> p = scene.truth.invWarpPoint(plateToWorld.mapPoint(P), c);
          lists[static_cast<std::size_t>(c)].push_back(
              tkCrspPairWeighted(p + tkVector<2>(noise(random), noise(random)), P, 1.0));
        }
    return lists;
  };
  for (int j = 0; j < placements; ++j) {
    if (j % 10 == 0) {
      const double height = j == 0 ? 0.0 : 40.0 * (0.5 + 0.5 * unit(random));
      const tk3ZRotationXform pose =
          j == 0 ? tk3ZRotationXform()
                 : tk3ZRotationXform(M_PI * unit(random),
                                     tkVector<3>(30.0 * unit(random), 30.0 * unit(random), height));
      zPoses.push_back(pose);
      scene.z.push_back({view(pose.xform()), height});
    } else {
      const tk3Quaternion turn =
          tk3Quaternion(1.0, 0.18 * unit(random), 0.18 * unit(random), 1.5 * unit(random))
              .normalised();
      const tk3QuaternionXform pose(
          turn, tkVector<3>(40.0 * unit(random), 40.0 * unit(random), 30.0 + 30.0 * unit(random)));
      aPoses.push_back(pose);
      scene.a.push_back(view(pose.xform()));
    }
  }
  scene.truth.calibrationPlatePoses(zPoses);
  scene.truth.arbitraryCalibrationPlatePoses(aPoses);
  return scene;
}

// range(0): cameras (1: N views of 300 points; 4: N placements of 100 points), range(1): N.
Scene sceneOf(const benchmark::State& state) {
  const int cameras = static_cast<int>(state.range(0));
  return cameras == 1 ? makeScene(1, static_cast<int>(state.range(1)), 20, 15)
                      : makeScene(cameras, static_cast<int>(state.range(1)), 10, 10);
}

void ImageRefinement(benchmark::State& state) {
  const Scene scene = sceneOf(state);
  tkImageRefinementSummary summary;
  for (auto _ : state) {
    Params rig = scene.truth;
    summary = tfRefineOnImageResiduals(scene.z, scene.a, false, rig);
    benchmark::DoNotOptimize(rig);
  }
  state.counters["iterations"] = static_cast<double>(summary.iterations);
  state.counters["rms"] = summary.rmsAfter;
}

void CalibrationUncertainty(benchmark::State& state) {
  const Scene scene = sceneOf(state);
  double sigma = 0.0, fx = 0.0;
  for (auto _ : state) {
    const tkCalibrationUncertainty u = tfCalibrationUncertainty(scene.z, scene.a, false, scene.truth);
    sigma = u.sigma();
    fx = u.cameras()[0].fx;
  }
  state.counters["sigma"] = sigma;
  state.counters["sd_fx"] = fx;
}

BENCHMARK(ImageRefinement)
    ->Args({1, 50})
    ->Args({1, 200})
    ->Args({4, 25})
    ->Args({4, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(CalibrationUncertainty)
    ->Args({1, 50})
    ->Args({1, 200})
    ->Args({4, 25})
    ->Args({4, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
