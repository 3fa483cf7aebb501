#include "support/telecentric_sets.h"

#include "support/data_sets.h"
#include "support/json_rows.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

tkVector<2> tkTelecentricTruth::image(const tkVector<3>& home) const {
  const tkVector<3> Q = cameraFromHome.mapPoint(home);
  return intrinsic.mapPoint(tkVector<2>(Q.x(), Q.y()));
}

tkTelecentricSet loadTelecentricSet(const std::string& fileName) {
  const tkPointFile file = loadDataSet(fileName);
  if (file.kind != "telecentric" || file.groundTruthJson.empty())
    throw std::runtime_error(fileName + " is not a telecentric set with ground truth");
  tkTelecentricSet set;
  for (const tkPointPlacement& placement : file.placements) {
    const auto& p = placement.pose;
    set.poses.emplace_back(tkMatrix<3>(p[0], p[1], p[2], p[4], p[5], p[6], p[8], p[9], p[10]),
                           tkVector<3>(p[3], p[7], p[11]));
    set.correspondences.emplace_back();
    set.pairs.emplace_back();
    for (const tkPointRow& row : placement.points.at(0)) {
      set.correspondences.back().emplace_back(row.image, row.physical, row.weight);
      set.pairs.back().emplace_back(row.image, tkVector<2>(row.physical.x(), row.physical.y()));
    }
  }
  const nlohmann::json truth = nlohmann::json::parse(file.groundTruthJson);
  const nlohmann::json& camera = truth.at("cameras").at(0);
  set.truth.noiseSigmaPx = truth.at("noise_sigma_px").get<double>();
  set.truth.intrinsic = tkCalib2ParamsIntrinsic(
      tkVector<2>(camera.at("scale").at(0).get<double>(), camera.at("scale").at(1).get<double>()),
      camera.at("skew").get<double>(),
      tkVector<2>(camera.at("translation").at(0).get<double>(),
                  camera.at("translation").at(1).get<double>()),
      tk2XformCalib2Defs::eTelecentric, {});
  set.truth.cameraFromHome = tfXformFromRows(camera.at("extrinsic"));
  return set;
}

const tkTelecentricSet& exactTelecentricSet() {
  static const tkTelecentricSet set = loadTelecentricSet("telecentric-exact.json");
  return set;
}
