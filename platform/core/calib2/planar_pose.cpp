#include "platform/core/calib2/planar_pose.h"

#include <tk/angle_vect.h>
#include <tk/exception.h>
#include <tk/failure.h>

#include "platform/core/calib2/homography.h"
#include "platform/core/invalid_argument.h"
#include "platform/core/pose3d/pose_refinement.h"

#include <Eigen/Geometry>

#include <cmath>

tkXform<3> tk_poseFromPlaneHomography(const Eigen::Matrix3d& H, const tkVector<2>& platePoint) {
  const double norm1 = H.col(0).norm();
  const double norm2 = H.col(1).norm();
  if (!(norm1 > 0.0) || !(norm2 > 0.0) || !H.allFinite())
    throw tkMathError::Singular();
  double scale = 2.0 / (norm1 + norm2);
  if (H.row(2).dot(Eigen::Vector3d(platePoint.x(), platePoint.y(), 1.0)) < 0.0)
    scale = -scale;
  const Eigen::Vector3d r1 = scale * H.col(0);
  const Eigen::Vector3d r2 = scale * H.col(1);
  const Eigen::Vector3d r3 = r1.cross(r2);
  const Eigen::Vector3d t = scale * H.col(2);
  const tkMatrix<3> nearRotation(r1(0), r2(0), r3(0), r1(1), r2(1), r3(1), r1(2), r2(2), r3(2));
  return tkXform<3>(tk3AngleVect::closestRotation(nearRotation), tkVector<3>(t(0), t(1), t(2)));
}

tkXform<3> tk_planarPose(const tk_CameraIntrinsics& camera,
                         const std::vector<tkPair<tkVector<2>>>& pairs, double* rms,
                         double* largest) {
  if (pairs.size() < 4)
    tk_throwInvalidArgument("planar pose: fewer than 4 point pairs");
  if (tk_CameraIntrinsics::lensValueCount(camera.model) < 0 || !camera.isFinite())
    tk_throwInvalidArgument(
        "planar pose: the camera is not an area-scan camera with finite values");

  const ccal::detail::CameraModel model = camera.cameraModel();
  if (model.singular())
    throw tkMathError::Singular();
  std::vector<tkVector<2>> platePoints(pairs.size());
  std::vector<tkVector<2>> positionsAtZ1(pairs.size());
  std::vector<tkVector<2>> imagePoints(pairs.size());
  std::vector<tkVector<3>> physicalPoints(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    imagePoints[i] = pairs[i].first;
    platePoints[i] = pairs[i].second;
    physicalPoints[i] = tkVector<3>(pairs[i].second.x(), pairs[i].second.y(), 0.0);
    const double image[2] = {pairs[i].first.x(), pairs[i].first.y()};
    double q[2];
    const int32_t status = model.positionAtZ1FromImage(image, q, nullptr);
    if (status < 0)
      tfThrowExceptionOnFailure(status);
    positionsAtZ1[i] = tkVector<2>(q[0], q[1]);
  }
  tkVector<2> plateCentroid;
  for (const tkVector<2>& p : platePoints)
    plateCentroid += p / static_cast<double>(platePoints.size());
  const tkXform<3> start =
      tk_poseFromPlaneHomography(tk_computeHomography(platePoints, positionsAtZ1), plateCentroid);
  return tk_refinePose(camera, imagePoints, physicalPoints, start, rms, largest);
}
