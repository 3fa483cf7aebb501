#include <ccal/camera_calibration_params.h>
#include <tk/angle_vect.h>
#include <tk/calib2_params.h>

tkCameraCalibrationParams::tkCameraCalibrationParams()
    : cameraPoseInverse_(tk3Quaternion(1.0, 0.0, 0.0, 0.0), tkVector<3>(0.0, 0.0, 0.0)) {}

tkVector<2> tkCameraCalibrationParams::invWarpPoint(const tkVector<3>& physicalPoint) const {
  const tkVector<3> Pc = cameraPoseInverse_.xform().mapPoint(physicalPoint);
  return physicalAtZEquals1FromImageParams_.invWarpPoint(
      tkVector<2>(Pc.x() / Pc.z(), Pc.y() / Pc.z()));
}

tkVector<3> tkCameraCalibrationParams::warpPointToZeroPlane(const tkVector<2>& imagePoint) const {
  const tkVector<2> q = physicalAtZEquals1FromImageParams_.warpPoint(imagePoint);
  const tk3QuaternionXform physicalFromCamera = cameraPoseInverse_.inverse();
  const tkVector<3> O = physicalFromCamera.trans();
  const tkVector<3> Q = physicalFromCamera.mapPoint(tkVector<3>(q.x(), q.y(), 1.0));
  const double t = -O.z() / (O.z() - Q.z());
  return tkVector<3>(O.x() + t * (O.x() - Q.x()), O.y() + t * (O.y() - Q.y()),
                     O.z() + t * (O.z() - Q.z()));
}

void tfConvert(const tkCameraCalibrationParams& src, tk2XformCalib2& dst) {
  const tk3QuaternionXform& pose = src.cameraPoseInverse();
  const tk3AngleVect angles(pose.xform().matrix());
  const tkCalib2ParamsExtrinsic extrinsic(angles, pose.trans());
  const tkCalib2ParamsIntrinsic intrinsic =
      src.physicalAtZEquals1FromImageParams().computeParamsIntrinsic();
  dst.init(intrinsic, extrinsic);
}
