#include "ccal/telcntrc/telecentric_pose_residuals.h"

#include <tk/attention.h>

#include <algorithm>
#include <cmath>

void appendTelecentricPoseResiduals(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkXform<3>& cameraFromHome,
    const tkCalib2ParamsIntrinsic& intrinsic, std::vector<double>& rmsResiduals,
    std::vector<double>& maxResiduals) {
  for (std::size_t i = 0; i < poses.size(); ++i) {
    tkAttention::check();
    const tkXform<3> cameraFromPlate = cameraFromHome * poses[i];
    const std::vector<tkCrspPairWeighted>& list = correspondences[i];
    double weightSum = 0.0, weightedSquares = 0.0, largest = 0.0;
    for (std::size_t j = 0; j < list.size(); ++j) {
      if (j % 128 == 0)
        tkAttention::check();
      const tkVector<3> Q = cameraFromPlate.mapPoint(list[j].physical3D());
      const tkVector<2> predicted = intrinsic.mapPoint(tkVector<2>(Q.x(), Q.y()));
      const double distance = (list[j].image() - predicted).length();
      largest = std::max(distance, largest);
      weightSum += list[j].weight();
      weightedSquares += list[j].weight() * distance * distance;
    }
    rmsResiduals.push_back(weightSum != 0.0 ? std::sqrt(weightedSquares / weightSum) : 0.0);
    maxResiduals.push_back(largest);
  }
}
