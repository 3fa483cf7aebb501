// Per-pose figures of fit of a telecentric camera: the weighted RMS and the largest image
// residual of each pose's correspondences.
#ifndef CCAL_TELCNTRC_TELECENTRIC_POSE_RESIDUALS_H
#define CCAL_TELCNTRC_TELECENTRIC_POSE_RESIDUALS_H

#include <tk/calib2_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/xform.h>

#include <vector>

// For each pose i in order: every correspondence's plate point is mapped by cameraFromHome *
// poses[i] to Q, predicted = intrinsic.mapPoint((Q.x, Q.y)), d = |image - predicted| (pixels);
// appends sqrt(sum w d^2 / sum w) (0 when the weights sum to 0) to rmsResiduals and the largest d
// (0 for an empty list; weights do not matter) to maxResiduals. correspondences has at least
// poses.size() lists. Throws tkAttention::Aborted (checked once per pose and before every 128th
// point of a list).
void appendTelecentricPoseResiduals(
    const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
    const std::vector<tkXform<3>>& poses, const tkXform<3>& cameraFromHome,
    const tkCalib2ParamsIntrinsic& intrinsic, std::vector<double>& rmsResiduals,
    std::vector<double>& maxResiduals);

#endif
