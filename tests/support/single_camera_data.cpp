#include "support/single_camera_data.h"

#include "support/area_scan_truth.h"
#include "support/data_sets.h"

#include <tk/pair.h>
#include <tk/quaternion_xform.h>

#include <stdexcept>

namespace {

tk2XformCalib2Defs::tkCalib2DistortionModel ModelNamed(const std::string& name) {
  if (name == "eRadial")
    return tk2XformCalib2Defs::eRadial;
  if (name == "eSineTan")
    return tk2XformCalib2Defs::eSineTan;
  if (name == "eNoDistortion")
    return tk2XformCalib2Defs::eNoDistortion;
  throw std::runtime_error("unknown distortion model " + name);
}

tkCameraCalibrationParams CameraOf(const tkAreaScanCameraTruth& truth) {
  tkPhysicalAtZEquals1FromImageParams intrinsic(
      tk2XformLinear(tkMatrix<2>(truth.scale.x(), truth.skew, 0.0, truth.scale.y()),
                     truth.translation),
      truth.centerOfExpansion, ModelNamed(truth.distModel), truth.lensDistParams);
  tkCameraCalibrationParams camera;
  camera.physicalAtZEquals1FromImageParams(intrinsic);
  camera.cameraPoseInverse(tk3QuaternionXform(truth.worldToCamera));
  return camera;
}

}  // namespace

SingleCameraDataSet LoadSingleCameraDataSet(const std::string& fileName) {
  const tkPointFile file = loadDataSet(fileName);
  const tkAreaScanTruth truth = tfParseAreaScanTruth(file);
  SingleCameraDataSet set;
  set.truth = CameraOf(truth.cameras.at(0));
  set.noiseSigmaPx = truth.noiseSigmaPx;
  for (std::size_t j = 0; j < file.placements.size(); ++j) {
    const tkXform<3>& plateToWorld = truth.plateToWorld.at(j);
    set.platePoses.push_back(plateToWorld);
    set.plateViews.emplace_back();
    for (const tkPointRow& row : file.placements[j].points.at(0)) {
      set.correspondences.push_back({{row.image, plateToWorld.mapPoint(row.physical)}, row.weight});
      set.plateViews.back().emplace_back(row.image, row.physical, row.weight);
    }
  }
  return set;
}

tkCameraCalibrationParams TruthCamera(const std::string& fileName) {
  return CameraOf(tfParseAreaScanTruth(loadDataSet(fileName)).cameras.at(0));
}
