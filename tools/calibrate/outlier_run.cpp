#include "outlier_run.h"

#include "calibration_result.h"

tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfSolveRejectingOutliers(
    const tkRigSolve& solve, const tkMulticameraZRotationPlacementsWeighted& zRotation,
    const tkMulticameraArbitraryPlacementsWeighted& arbitrary,
    const std::vector<std::pair<bool, std::size_t>>& where, tkToolRejection& rejection) {
  const tkOutlierRejectionResult outcome = tfRejectOutliers(solve, zRotation, arbitrary);
  rejection.enabled = true;
  rejection.rounds = outcome.rounds;
  rejection.capped = outcome.capped;
  rejection.sigma = outcome.sigma;
  rejection.inliers.clear();
  rejection.dropped.clear();
  for (const auto& [isZRotation, index] : where) {
    rejection.inliers.push_back(isZRotation ? outcome.zRotationInliers[index]
                                            : outcome.arbitraryInliers[index]);
    rejection.dropped.emplace_back();
    for (const tkOutlierRejectionView& view :
         isZRotation ? outcome.zRotationViews[index] : outcome.arbitraryViews[index])
      rejection.dropped.back().push_back(view.dropped);
  }
  return outcome.rig;
}

void tfMarkRejected(tkToolResult& result) {
  if (!result.rejection.enabled)
    return;
  for (tkToolResidual& r : result.residuals)
    r.rejected = r.weight > 0.0 && !result.rejection.inliers[r.placement][r.camera][r.index];
}
