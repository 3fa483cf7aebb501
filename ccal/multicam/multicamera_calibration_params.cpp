#include <ccal/camera_calibration_params.h>
#include <ccal/multicamera_calibration_params.h>
#include <tk/exception.h>

#include <cstddef>

tkVector<2> tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams::invWarpPoint(
    const tkVector<3>& worldPoint, long cameraIndex) const {
  const std::size_t c = static_cast<std::size_t>(cameraIndex);
  if (cameraIndex < 0 || c >= cameraPoses_.size() || c >= intrinsics_.size())
    throw tkInvariantFailure(L"invWarpPoint: cameraIndex is not the index of a camera");
  const tkVector<3> Pc = cameraPoses_[c].mapPoint(worldPoint);
  if (Pc.z() == 0.0)
    return tkVector<2>();
  return intrinsics_[c].invWarpPoint(tkVector<2>(Pc.x() / Pc.z(), Pc.y() / Pc.z()));
}

void tfConvert(const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& src,
               std::vector<tk2XformCalib2>& dst) {
  const std::size_t n = src.cameraPoseInverses().size();
  if (src.physicalAtZEquals1FromImageParams().size() < n)
    throw tkInvariantFailure(L"tfConvert: fewer intrinsic models than camera poses");
  dst.resize(n);
  for (std::size_t c = 0; c < n; ++c) {
    tkCameraCalibrationParams camera;
    camera.physicalAtZEquals1FromImageParams(src.physicalAtZEquals1FromImageParams()[c]);
    camera.cameraPoseInverse(src.cameraPoseInverses()[c]);
    tfConvert(camera, dst[c]);
  }
}
