// Cost of the planar calibration and of the pose of one plate view, on the synthetic data sets
// (12 views of 300 points); the rig calibration runs them once per camera and per placement.
#include <benchmark/benchmark.h>
#include <point_file.h>
#include <tk/pose3d.h>
#include <tk/xform_calib2.h>

#include <string>
#include <vector>

namespace {

using Views = std::vector<std::vector<tkPair<tkVector<2>>>>;

Views plateViews(const char* name) {
  const tkPointFile file = tfLoadPointFile(std::string(CCAL_DATA_DIR) + "/" + name);
  Views views;
  for (const tkPointPlacement& placement : file.placements) {
    views.emplace_back();
    for (const tkPointRow& row : placement.points[0])
      views.back().emplace_back(row.image, tkVector<2>(row.physical.x(), row.physical.y()));
  }
  return views;
}

void calibrate(benchmark::State& state, const char* name,
               tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  const Views views = plateViews(name);
  std::vector<double> rms, largest;
  for (auto _ : state) {
    tk2XformCalib2 xform;
    xform.init(views, rms, largest, model);
    benchmark::DoNotOptimize(xform);
  }
}

void BM_PlanarCalibrationRadial(benchmark::State& state) {
  calibrate(state, "single-radial-exact.json", tk2XformCalib2Defs::eRadial);
}
BENCHMARK(BM_PlanarCalibrationRadial)->Unit(benchmark::kMillisecond);

void BM_PlanarCalibrationRadialNoisy(benchmark::State& state) {
  calibrate(state, "single-radial-noisy.json", tk2XformCalib2Defs::eRadial);
}
BENCHMARK(BM_PlanarCalibrationRadialNoisy)->Unit(benchmark::kMillisecond);

void BM_PlanarCalibrationSineTan(benchmark::State& state) {
  calibrate(state, "single-sinetan-exact.json", tk2XformCalib2Defs::eSineTan);
}
BENCHMARK(BM_PlanarCalibrationSineTan)->Unit(benchmark::kMillisecond);

// One plate view of 300 points under calibrated intrinsics.
void BM_PlateViewPose(benchmark::State& state) {
  const Views views = plateViews("single-radial-exact.json");
  tk2XformCalib2 xform;
  std::vector<double> rms, largest;
  xform.init(views, rms, largest, tk2XformCalib2Defs::eRadial);
  for (auto _ : state)
    benchmark::DoNotOptimize(xform.extrinsicXform(views[5]));
}
BENCHMARK(BM_PlateViewPose)->Unit(benchmark::kMicrosecond);

}  // namespace
