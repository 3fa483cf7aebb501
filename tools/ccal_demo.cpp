// Calibrates one camera from the planar views of a bundled point-list file and prints the model.
//
//   ccal_demo [file.json] [camera-index]
//
// Without arguments it calibrates the left camera of data/opencv-left.json (real chessboard
// corners) with the radial lens model.
#include <ccal/ccal.h>
#include <point_file.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

tk2XformCalib2Defs::tkCalib2DistortionModel modelOf(const std::string& name) {
  if (name == "sine-tan")
    return tk2XformCalib2Defs::eSineTan;
  if (name == "none")
    return tk2XformCalib2Defs::eNoDistortion;
  return tk2XformCalib2Defs::eRadial;
}

int run(const std::string& path, size_t camera) {
  const tkPointFile file = tfLoadPointFile(path);
  if (file.kind != "area-scan") {
    std::fprintf(stderr, "%s: the demo calibrates area-scan files only\n", path.c_str());
    return 2;
  }
  if (camera >= file.cameras.size()) {
    std::fprintf(stderr, "%s has %zu camera(s)\n", path.c_str(), file.cameras.size());
    return 2;
  }
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  std::vector<std::string> names;
  size_t points = 0;
  for (const tkPointPlacement& placement : file.placements) {
    const std::vector<tkPointRow>& rows = placement.points[camera];
    if (rows.size() < 4)
      continue;
    std::vector<tkPair<tkVector<2>>> view;
    for (const tkPointRow& row : rows) {
      view.push_back({row.image, tkVector<2>(row.physical.x(), row.physical.y())});
    }
    points += view.size();
    views.push_back(std::move(view));
    names.push_back(placement.name);
  }
  const auto model = modelOf(file.distortionModel);
  std::printf("ccal demo: planar calibration of camera \"%s\" in %s\n",
              file.cameras[camera].c_str(), path.c_str());
  std::printf("  %zu views, %zu points, lens model %s\n\n", views.size(), points,
              file.distortionModel.c_str());

  const auto start = std::chrono::steady_clock::now();
  tk2XformCalib2 transform;
  std::vector<double> rms;
  std::vector<double> largest;
  transform.init(views, rms, largest, model);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const tkCalib2ParamsIntrinsic intrinsic = transform.intrinsicParams();
  std::printf("camera matrix (distorted normalised plane -> image, pixels)\n");
  std::printf("  fx %.4f  fy %.4f  skew %.4f  cx %.4f  cy %.4f\n", intrinsic.scale().x(),
              intrinsic.scale().y(), intrinsic.skew(), intrinsic.translation().x(),
              intrinsic.translation().y());
  std::printf("lens parameters:");
  for (double value : intrinsic.distortionParams())
    std::printf(" %.6g", value);
  std::printf("\n\nper view: RMS and largest residual (pixels)\n");
  double sumSquares = 0.0;
  for (size_t v = 0; v < views.size(); ++v) {
    std::printf("  %-10s %8.4f %8.4f\n", names[v].c_str(), rms[v], largest[v]);
    sumSquares += rms[v] * rms[v] * static_cast<double>(views[v].size());
  }
  std::printf("\noverall RMS %.4f px over %zu points, %.1f ms\n",
              std::sqrt(sumSquares / static_cast<double>(points)), points, seconds * 1e3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : std::string(CCAL_DATA_DIR) + "/opencv-left.json";
  const size_t camera = argc > 2 ? static_cast<size_t>(std::strtoul(argv[2], nullptr, 10)) : 0;
  try {
    return run(path, camera);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ccal demo: %s\n", error.what());
    return 1;
  }
}
