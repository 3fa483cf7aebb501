#include "ccal_runner.h"

#include "compare_metrics.h"

#include <ccal/multicamera_calibration.h>
#include <ccal/single_camera_calibration.h>

#include <algorithm>
#include <stdexcept>

namespace {

using RigParams = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

tkMulticameraWeightedList weightedList(const std::vector<tkPointRow>& rows) {
  tkMulticameraWeightedList list;
  list.reserve(rows.size());
  for (const tkPointRow& row : rows)
    list.emplace_back(row.image, row.physical, row.weight);
  return list;
}

// Residuals of camera c over the given placements (file index, plate -> world).
void addResiduals(const RigParams& result, const std::vector<tkPointRow>& rows,
                  const tkXform<3>& plateToWorld, long camera, tkResidualStats& stats) {
  for (const tkPointRow& row : rows)
    stats.add(row.image, result.invWarpPoint(plateToWorld.mapPoint(row.physical), camera));
}

void setIntrinsicErrors(tkCompareRow& row, const tkIntrinsicErrors& e) {
  const auto worse = [](double current, double candidate) {
    return std::isnan(current) ? candidate : std::max(current, candidate);
  };
  row.focalRel = worse(row.focalRel, e.focalRel);
  row.axisPx = worse(row.axisPx, e.axisPx);
  row.mapRmsPx = worse(row.mapRmsPx, e.mapRmsPx);
}

}  // namespace

std::vector<int> tfUsableViews(const tkPointFile& file, int camera) {
  std::vector<int> views;
  for (std::size_t j = 0; j < file.placements.size(); ++j)
    if (file.placements[j].points.at(static_cast<std::size_t>(camera)).size() >= 10)
      views.push_back(static_cast<int>(j));
  return views;
}

tkCompareRow tfCcalPlanar(const tkCompareSet& set, int camera, const tkCompareRow& identity,
                          const tkRepeatPolicy& policy) {
  tkCompareRow row = identity;
  const std::vector<int> views = tfUsableViews(set.file, camera);
  if (views.empty())
    throw std::runtime_error("the camera has no view of 10 or more points");
  const auto& placements = set.file.placements;
  tkMulticameraZRotationPlacementsWeighted zData;
  tkMulticameraArbitraryPlacementsWeighted aData;
  zData.push_back({{weightedList(placements[views[0]].points[camera])}, 0.0});
  for (std::size_t k = 1; k < views.size(); ++k)
    aData.push_back({weightedList(placements[views[k]].points[camera])});
  const auto model = tfCompareModelNamed(set.file.distortionModel);

  RigParams result;
  tfTimeCalls(
      [&] { tfCalibrateMultiplateMulticameraZRotationAndArbitrary(model, zData, aData, result); },
      policy, row);

  tkResidualStats stats;
  addResiduals(result, placements[views[0]].points[camera],
               result.calibrationPlatePoses()[0].xform(), 0, stats);
  for (std::size_t k = 1; k < views.size(); ++k)
    addResiduals(result, placements[views[k]].points[camera],
                 result.arbitraryCalibrationPlatePoses()[k - 1].xform(), 0, stats);
  row.rms = stats.rms();
  row.largest = stats.largest;
  row.views = static_cast<int>(views.size());
  row.points = stats.count;
  if (set.hasTruth)
    setIntrinsicErrors(
        row, tfIntrinsicErrors(tfProjectionOf(result.physicalAtZEquals1FromImageParams()[0]),
                               tfIntrinsicOf(set.truth.cameras[camera]), set.file.imageSize[0],
                               set.file.imageSize[1]));
  row.ok = std::isfinite(row.rms);
  if (!row.ok)
    row.note = "non-finite residual";
  return row;
}

tkCompareRow tfCcalRig(const tkCompareSet& set, const tkCompareRow& identity,
                       const tkRepeatPolicy& policy) {
  tkCompareRow row = identity;
  const auto& placements = set.file.placements;
  const std::size_t nC = set.file.cameras.size();
  tkMulticameraZRotationPlacementsWeighted zData;
  tkMulticameraArbitraryPlacementsWeighted aData;
  std::vector<int> zIndex, aIndex;
  for (std::size_t j = 0; j < placements.size(); ++j) {
    std::vector<tkMulticameraWeightedList> lists;
    for (std::size_t c = 0; c < nC; ++c)
      lists.push_back(weightedList(placements[j].points[c]));
    if (placements[j].kind == "z-rotation") {
      zData.push_back({lists, placements[j].height});
      zIndex.push_back(static_cast<int>(j));
    } else {
      aData.push_back(lists);
      aIndex.push_back(static_cast<int>(j));
    }
  }
  const auto model = tfCompareModelNamed(set.file.distortionModel);

  RigParams result;
  tfTimeCalls(
      [&] { tfCalibrateMultiplateMulticameraZRotationAndArbitrary(model, zData, aData, result); },
      policy, row);

  tkResidualStats stats;
  for (std::size_t c = 0; c < nC; ++c) {
    for (std::size_t k = 0; k < zIndex.size(); ++k)
      addResiduals(result, placements[zIndex[k]].points[c],
                   result.calibrationPlatePoses()[k].xform(), static_cast<long>(c), stats);
    for (std::size_t k = 0; k < aIndex.size(); ++k)
      addResiduals(result, placements[aIndex[k]].points[c],
                   result.arbitraryCalibrationPlatePoses()[k].xform(), static_cast<long>(c), stats);
  }
  row.rms = stats.rms();
  row.largest = stats.largest;
  row.points = stats.count;
  row.cameras = static_cast<int>(nC);
  row.views = static_cast<int>(placements.size());
  if (set.hasTruth) {
    for (std::size_t c = 0; c < nC; ++c)
      setIntrinsicErrors(
          row, tfIntrinsicErrors(tfProjectionOf(result.physicalAtZEquals1FromImageParams()[c]),
                                 tfIntrinsicOf(set.truth.cameras[c]), set.file.imageSize[0],
                                 set.file.imageSize[1]));
    for (std::size_t c = 1; c < nC; ++c) {
      const tkRelativePoseErrors e = tfRelativePoseErrors(
          result.cameraPoseInverses()[0].xform(), result.cameraPoseInverses()[c].xform(),
          set.truth.cameras[0].worldToCamera, set.truth.cameras[c].worldToCamera);
      row.relRotMrad = c == 1 ? e.rotationMrad : std::max(row.relRotMrad, e.rotationMrad);
      row.relTransPct = c == 1 ? e.translationPct : std::max(row.relTransPct, e.translationPct);
    }
  }
  row.ok = std::isfinite(row.rms);
  if (!row.ok)
    row.note = "non-finite residual";
  return row;
}

tkCompareRow tfCcalPoints3d(const tkCompareSet& set, const tkCompareRow& identity,
                            const tkRepeatPolicy& policy) {
  if (!set.hasTruth)
    throw std::runtime_error("3-D points need the ground-truth placement poses");
  tkCompareRow row = identity;
  std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>> correspondences;
  for (std::size_t j = 0; j < set.file.placements.size(); ++j)
    for (const tkPointRow& r : set.file.placements[j].points[0])
      correspondences.push_back(
          {{r.image, set.truth.plateToWorld[j].mapPoint(r.physical)}, r.weight});
  const auto model = tfCompareModelNamed(set.file.distortionModel);

  tkCameraCalibrationParams result;
  tfTimeCalls(
      [&] { tfComputeCalibrationSingleCamera_internal(model, correspondences, {}, {}, result); },
      policy, row);

  tkResidualStats stats;
  for (const auto& c : correspondences)
    stats.add(c.first.first, result.invWarpPoint(c.first.second));
  row.rms = stats.rms();
  row.largest = stats.largest;
  row.points = stats.count;
  row.views = 1;
  setIntrinsicErrors(row,
                     tfIntrinsicErrors(tfProjectionOf(result.physicalAtZEquals1FromImageParams()),
                                       tfIntrinsicOf(set.truth.cameras[0]), set.file.imageSize[0],
                                       set.file.imageSize[1]));
  row.ok = std::isfinite(row.rms);
  if (!row.ok)
    row.note = "non-finite residual";
  return row;
}
