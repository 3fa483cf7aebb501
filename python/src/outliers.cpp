// Outlier rejection around the rig solves of the Python module (calibrate_rig and
// estimate_rig_pose with reject_outliers=True).
#include "bindings.h"

#include <ccal/outlier_rejection.h>

tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfPyRejectOutliers(
    const tkRigSolve& solve, tkMulticameraZRotationPlacementsWeighted& zRotation,
    tkMulticameraArbitraryPlacementsWeighted& arbitrary,
    const std::vector<std::pair<bool, size_t>>& where, const py::object& progress,
    py::dict& outcome) {
  tkOutlierRejectionResult result;
  tfPyRunLong(progress, [&] { result = tfRejectOutliers(solve, zRotation, arbitrary); });
  py::list inliers, dropped;
  for (size_t j = 0; j < where.size(); ++j) {
    const auto& [isZRotation, index] = where[j];
    const auto& masks =
        isZRotation ? result.zRotationInliers[index] : result.arbitraryInliers[index];
    const auto& views = isZRotation ? result.zRotationViews[index] : result.arbitraryViews[index];
    py::list perCamera;
    for (size_t c = 0; c < masks.size(); ++c) {
      py::array_t<bool> mask(static_cast<py::ssize_t>(masks[c].size()));
      auto m = mask.mutable_unchecked<1>();
      for (size_t i = 0; i < masks[c].size(); ++i)
        m(static_cast<py::ssize_t>(i)) = masks[c][i];
      perCamera.append(mask);
      if (views[c].dropped)
        dropped.append(py::make_tuple(j, c));
    }
    inliers.append(perCamera);
  }
  for (size_t j = 0; j < zRotation.size(); ++j)
    for (size_t c = 0; c < zRotation[j].first.size(); ++c)
      for (size_t k = 0; k < zRotation[j].first[c].size(); ++k)
        if (!result.zRotationInliers[j][c][k])
          zRotation[j].first[c][k].weight(0.0);
  for (size_t j = 0; j < arbitrary.size(); ++j)
    for (size_t c = 0; c < arbitrary[j].size(); ++c)
      for (size_t k = 0; k < arbitrary[j][c].size(); ++k)
        if (!result.arbitraryInliers[j][c][k])
          arbitrary[j][c][k].weight(0.0);
  outcome["inliers"] = inliers;
  outcome["dropped_views"] = dropped;
  outcome["rejected"] = result.rejected;
  outcome["outlier_rounds"] = result.rounds;
  outcome["outlier_capped"] = result.capped;
  outcome["sigma"] = result.sigma;
  outcome["inlier_rms"] = tfPyArray1(result.inlierRms);
  outcome["all_rms"] = tfPyArray1(result.allRms);
  outcome["inlier_rms_pooled"] = result.inlierRmsPooled;
  outcome["all_rms_pooled"] = result.allRmsPooled;
  return result.rig;
}
