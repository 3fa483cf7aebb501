#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/pose3d.h>

#include "platform/core/calib2/camera_intrinsics.h"
#include "platform/core/finite_values.h"
#include "platform/core/invalid_argument.h"
#include "platform/core/pose3d/pose_closed_form.h"
#include "platform/core/pose3d/pose_refinement.h"

#include <cmath>

namespace {

// Relative spread below which the physical points count as collinear (no pose) or coplanar
// (the linear transform is not tried).
constexpr double kCollinearRatio = 1e-8;
constexpr double kCoplanarRatio = 1e-6;

}  // namespace

void tk3DComputePoseParams::maxIterations(long iterations) {
  if (iterations < 0)
    tk_throwInvalidArgument("tk3DComputePoseParams::maxIterations: negative iteration count");
  maxIterations_ = iterations;
}

void tf3DComputePose(const std::vector<std::pair<tkVector<2>, tkVector<3>>>& pairs,
                     const tk2XformCalib2& camera, const tk3DComputePoseParams& params,
                     tk3DComputePoseResult& result) {
  if (pairs.size() < 4)
    tk_throwInvalidArgument("tf3DComputePose: fewer than 4 point pairs");
  const tk_CameraIntrinsics intrinsics = tk_cameraIntrinsicsOf(camera.intrinsicParams());
  if (tk_CameraIntrinsics::lensValueCount(intrinsics.model) < 0)
    tk_throwInvalidArgument("tf3DComputePose: the camera is not an area-scan camera");

  const ccal::detail::CameraModel model = intrinsics.cameraModel();
  if (model.singular())
    throw tkMathError::Singular();
  std::vector<tkVector<2>> imagePoints(pairs.size()), positionsAtZ1(pairs.size());
  std::vector<tkVector<3>> physicalPoints(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!tk_isFinite(pairs[i].first) || !tk_isFinite(pairs[i].second))
      tk_throwInvalidArgument("tf3DComputePose: a coordinate is not finite");
    imagePoints[i] = pairs[i].first;
    physicalPoints[i] = pairs[i].second;
    const double image[2] = {pairs[i].first.x(), pairs[i].first.y()};
    double q[2];
    const int32_t status = model.positionAtZ1FromImage(image, q, nullptr);
    if (status < 0)
      tfThrowExceptionOnFailure(status);
    positionsAtZ1[i] = tkVector<2>(q[0], q[1]);
  }
  const tk_PointSpread spread = tk_pointSpread(physicalPoints);
  if (!(spread.spread[1] > kCollinearRatio * spread.spread[0]))
    throw tkMathError::Singular();

  tkXform<3> start = tk_poseFromBestPlane(positionsAtZ1, physicalPoints, spread);
  double startRms = 0.0, startLargest = 0.0;
  tk_poseResiduals(intrinsics, imagePoints, physicalPoints, start, startRms, startLargest);
  tkXform<3> linear;
  if (spread.spread[2] > kCoplanarRatio * spread.spread[0] &&
      tk_poseByLinearTransform(positionsAtZ1, physicalPoints, spread, linear)) {
    double linearRms = 0.0, linearLargest = 0.0;
    tk_poseResiduals(intrinsics, imagePoints, physicalPoints, linear, linearRms, linearLargest);
    if (linearRms < startRms || !std::isfinite(startRms))
      start = linear;
  }

  double rms = 0.0, largest = 0.0;
  const tkXform<3> pose = tk_refinePose(intrinsics, imagePoints, physicalPoints, start, &rms,
                                        &largest, params.maxIterations());
  result = tk3DComputePoseResult(tk3QuaternionXform(pose), rms, largest);
}
