// The planar members of tk2XformCalib2: plate-based calibration and the pose of a plate view.
#include <tk/xform_calib2.h>

#include <tk/attention.h>

#include "platform/core/calib2/camera_intrinsics.h"
#include "platform/core/calib2/planar_calibration.h"
#include "platform/core/calib2/planar_pose.h"
#include "platform/core/invalid_argument.h"

#include <cmath>

void tk2XformCalib2::init(const std::vector<std::vector<tkPair<tkVector<2>>>>& views,
                          std::vector<double>& rmsPerView, std::vector<double>& largestPerView,
                          tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  tk_PlanarCalibration calibration = tk_calibratePlanar(views, model);
  tk2XformCalib2 result;
  result.init(tk_calib2IntrinsicOf(calibration.camera), tkCalib2ParamsExtrinsic());
  result.extrinsicXform(calibration.cameraFromPlate.front());
  tkAttention::check();  // a request that came after the last minimisation still counts
  *this = result;
  rmsPerView.swap(calibration.rmsPerView);
  largestPerView.swap(calibration.largestPerView);
}

tkXform<3> tk2XformCalib2::extrinsicXform(const std::vector<tkPair<tkVector<2>>>& pairs) const {
  for (const tkPair<tkVector<2>>& pair : pairs)
    if (!std::isfinite(pair.first.x()) || !std::isfinite(pair.first.y()) ||
        !std::isfinite(pair.second.x()) || !std::isfinite(pair.second.y()))
      tk_throwInvalidArgument("tk2XformCalib2::extrinsicXform: a coordinate is not finite");
  return tk_planarPose(tk_cameraIntrinsicsOf(intrinsicParams()), pairs, nullptr, nullptr);
}
