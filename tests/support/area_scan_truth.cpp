#include "support/area_scan_truth.h"
#include "support/json_rows.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace {

tkVector<2> vector2(const nlohmann::json& values) {
  return tkVector<2>(values.at(0).get<double>(), values.at(1).get<double>());
}

}  // namespace

tkXform<3> tfXformFromRows(const nlohmann::json& rows) {
  tkMatrix<3> m;
  tkVector<3> t;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      m.element(r, c, rows.at(r).at(c).get<double>());
    t[r] = rows.at(r).at(3).get<double>();
  }
  return tkXform<3>(m, t);
}

tkXform<2> tkAreaScanCameraTruth::imageFromDistorted() const {
  const tkXform<2> linear(tkMatrix<2>(scale.x(), skew, 0.0, scale.y()), translation);
  return linear.inverse();
}

tkCalib2ParamsIntrinsic tkAreaScanCameraTruth::intrinsic() const {
  const tkXform<2> K = imageFromDistorted();
  std::vector<double> list = lensDistParams;
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eNoDistortion;
  if (distModel != "eNoDistortion") {
    model = distModel == "eRadial" ? tk2XformCalib2Defs::eRadial : tk2XformCalib2Defs::eSineTan;
    list.push_back(centerOfExpansion.x());
    list.push_back(centerOfExpansion.y());
  }
  return tkCalib2ParamsIntrinsic(tkVector<2>(K.matrix().element(0, 0), K.matrix().element(1, 1)),
                                 K.matrix().element(0, 1), K.trans(), model, list);
}

tkAreaScanTruth tfParseAreaScanTruth(const tkPointFile& file) {
  if (file.groundTruthJson.empty())
    throw std::runtime_error("the data set has no ground truth");
  const nlohmann::json truth = nlohmann::json::parse(file.groundTruthJson);
  tkAreaScanTruth out;
  out.noiseSigmaPx = truth.value("noise_sigma_px", 0.0);
  for (const auto& camera : truth.at("cameras")) {
    tkAreaScanCameraTruth c;
    c.scale = vector2(camera.at("cameraScale"));
    c.skew = camera.at("cameraSkew").get<double>();
    c.translation = vector2(camera.at("cameraTranslation"));
    c.centerOfExpansion = vector2(camera.at("centerOfExpansion"));
    c.distModel = camera.at("distModel").get<std::string>();
    c.lensDistParams = camera.at("lensDistParams").get<std::vector<double>>();
    c.worldToCamera = tfXformFromRows(camera.at("pose"));
    out.cameras.push_back(c);
  }
  for (const auto& placement : truth.at("placements"))
    out.plateToWorld.push_back(tfXformFromRows(placement.at("pose")));
  return out;
}

std::vector<std::vector<tkPair<tkVector<2>>>> tfPlateViews(const tkPointFile& file, int camera,
                                                           std::size_t minimumPoints,
                                                           std::vector<int>* placementIndices) {
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  if (placementIndices != nullptr)
    placementIndices->clear();
  for (std::size_t j = 0; j < file.placements.size(); ++j) {
    const auto& rows = file.placements[j].points.at(static_cast<std::size_t>(camera));
    if (rows.size() < minimumPoints)
      continue;
    std::vector<tkPair<tkVector<2>>> view;
    for (const tkPointRow& row : rows)
      view.emplace_back(row.image, tkVector<2>(row.physical.x(), row.physical.y()));
    views.push_back(view);
    if (placementIndices != nullptr)
      placementIndices->push_back(static_cast<int>(j));
  }
  return views;
}
