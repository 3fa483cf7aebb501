// Cost of single-camera calibration: the driver (coarse estimate, distortion-start search on a
// subset of 333 points, plate-based estimate, full refinement) under each lens model on the
// synthetic single-camera sets (12 placements of 300 points, plate points mapped into the world
// frame with the ground-truth placement poses) and on generated sets of 5,000 correspondences;
// and the solver's function per correspondence, which the minimisations evaluate n + 1 times per
// iteration.
#include <benchmark/benchmark.h>
#include <ccal/single_camera_calibration.h>
#include <point_file.h>
#include <nlohmann/json.hpp>

#include "ccal/problem/parameter_layout.h"
#include "ccal/single/calibration_distortion_solver.h"
#include "tests/support/single_camera_scene.h"

#include <string>
#include <vector>

using ccal::detail::ParameterLayout;

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

struct DriverInput {
  scene::Correspondences correspondences;                   // world frame
  std::vector<std::vector<tkCrspPairWeighted>> plateViews;  // plate frame
  std::vector<tkXform<3>> platePoses;                       // plate -> world
};

DriverInput LoadSet(const std::string& name) {
  const tkPointFile file = tfLoadPointFile(std::string(CCAL_DATA_DIR) + "/" + name);
  const nlohmann::json truth = nlohmann::json::parse(file.groundTruthJson);
  DriverInput input;
  for (std::size_t j = 0; j < file.placements.size(); ++j) {
    const nlohmann::json& rows = truth.at("placements").at(j).at("pose");
    tkMatrix<3> rotation;
    tkVector<3> translation;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c)
        rotation.element(r, c, rows.at(r).at(c).get<double>());
      translation[r] = rows.at(r).at(3).get<double>();
    }
    const tkXform<3> plateToWorld(rotation, translation);
    input.platePoses.push_back(plateToWorld);
    input.plateViews.emplace_back();
    for (const tkPointRow& row : file.placements[j].points.at(0)) {
      input.correspondences.push_back(
          {{row.image, plateToWorld.mapPoint(row.physical)}, row.weight});
      input.plateViews.back().emplace_back(row.image, row.physical, row.weight);
    }
  }
  return input;
}

void RunDriver(benchmark::State& state, Model model, const DriverInput& input) {
  for (auto _ : state) {
    tkCameraCalibrationParams result;
    tfComputeCalibrationSingleCamera_internal(model, input.correspondences, input.plateViews,
                                              input.platePoses, result);
    benchmark::DoNotOptimize(result);
  }
  state.counters["points"] = static_cast<double>(input.correspondences.size());
}

void DriverOnSet(benchmark::State& state, const char* name, Model model) {
  RunDriver(state, model, LoadSet(name));
}

// The same without the plate views: the distortion search alone finds the start.
void DriverOnSetWithoutPlates(benchmark::State& state, const char* name, Model model) {
  DriverInput input = LoadSet(name);
  input.plateViews.clear();
  input.platePoses.clear();
  RunDriver(state, model, input);
}

// 5,000 generated correspondences (σ = 0.1 px) of the generated camera, no plate views.
void DriverOnGenerated(benchmark::State& state, Model model) {
  DriverInput input;
  input.correspondences = scene::Observe(scene::Camera(model), 5000, 0.1, 21);
  RunDriver(state, model, input);
}

// One evaluation of the solver's function on 333 correspondences (the search subset), per point.
void SolverFunction(benchmark::State& state, Model model, const std::string& pass = "function") {
  const tkCameraCalibrationParams camera = scene::Camera(model);
  scene::Correspondences data = scene::Observe(camera, 333, 0.1, 22);
  for (auto& c : data) {
    c.first.first = (c.first.first - tkVector<2>(800.0, 600.0)) / 1200.0;
    c.first.second = c.first.second / 640.0;
  }
  tkCameraCalibrationParams start = camera;
  start.physicalAtZEquals1FromImageParams(camera.physicalAtZEquals1FromImageParams().mapRight(
      tk2XformLinear(tkMatrix<2>(1200.0, 0.0, 0.0, 1200.0), tkVector<2>(800.0, 600.0))));
  start.cameraPoseInverse(tk3QuaternionXform(camera.cameraPoseInverse().quat(),
                                             camera.cameraPoseInverse().trans() / 640.0));
  tk3DCalibrationDistortionSolver solver(model);
  tkNMMatrix x(solver.getSize(), 1), f(solver.getSize(), 1);
  solver.unitValIndex(ParameterLayout::packCameraBlock(start, x.data()));
  solver.correspondences(data);
  // The passes of a search iteration: "function" F, K and the image cost in one pass; "merit"
  // the image cost alone (every trial); "terms" F and K where the merit was just taken (an
  // accepted trial). x alternates between two points so that nothing is kept between passes.
  tkNMMatrix x2 = x;
  x2(0, 0) += 1e-9;
  long i = 0;
  for (auto _ : state) {
    const tkNMMatrix& at = (++i & 1) != 0 ? x : x2;
    if (pass == "merit") {
      benchmark::DoNotOptimize(solver.cost(at));
    } else if (pass == "terms") {
      state.PauseTiming();
      benchmark::DoNotOptimize(solver.cost(at));
      state.ResumeTiming();
      benchmark::DoNotOptimize(solver.Func(at, f));
    } else {
      benchmark::DoNotOptimize(solver.Func(at, f));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(data.size()));
}

}  // namespace

BENCHMARK_CAPTURE(DriverOnSet, radial_exact, "single-radial-exact.json",
                  tk2XformCalib2Defs::eRadial)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnSet, radial_noisy, "single-radial-noisy.json",
                  tk2XformCalib2Defs::eRadial)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnSet, none_exact, "single-none-exact.json",
                  tk2XformCalib2Defs::eNoDistortion)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnSet, none_noisy, "single-none-noisy.json",
                  tk2XformCalib2Defs::eNoDistortion)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnSet, sinetan_exact, "single-sinetan-exact.json",
                  tk2XformCalib2Defs::eSineTan)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(DriverOnSet, sinetan_noisy, "single-sinetan-noisy.json",
                  tk2XformCalib2Defs::eSineTan)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(DriverOnSetWithoutPlates, radial_exact, "single-radial-exact.json",
                  tk2XformCalib2Defs::eRadial)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnSetWithoutPlates, sinetan_exact, "single-sinetan-exact.json",
                  tk2XformCalib2Defs::eSineTan)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(DriverOnGenerated, radial_5000, tk2XformCalib2Defs::eRadial)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnGenerated, none_5000, tk2XformCalib2Defs::eNoDistortion)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverOnGenerated, sinetan_5000, tk2XformCalib2Defs::eSineTan)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(SolverFunction, radial, tk2XformCalib2Defs::eRadial);
BENCHMARK_CAPTURE(SolverFunction, radial_merit, tk2XformCalib2Defs::eRadial, "merit");
BENCHMARK_CAPTURE(SolverFunction, radial_terms, tk2XformCalib2Defs::eRadial, "terms");
BENCHMARK_CAPTURE(SolverFunction, none, tk2XformCalib2Defs::eNoDistortion);
BENCHMARK_CAPTURE(SolverFunction, sinetan, tk2XformCalib2Defs::eSineTan);
