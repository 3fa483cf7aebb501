#include "ccal/single/camera_values.h"

#include <proc/cstd_assert.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>

#include <cstddef>
#include <vector>

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

tk_IntrinsicValues tfIntrinsicValues(const tkPhysicalAtZEquals1FromImageParams& intrinsic) {
  tk_IntrinsicValues v;
  v.model = intrinsic.distModel();
  v.tx = intrinsic.cameraTranslation().x();
  v.ty = intrinsic.cameraTranslation().y();
  v.sx = intrinsic.cameraScale().first;
  v.sy = intrinsic.cameraScale().second;
  v.skew = intrinsic.cameraSkew();
  v.cx = intrinsic.centerOfExpansion().x();
  v.cy = intrinsic.centerOfExpansion().y();
  const std::vector<double>& lens = intrinsic.lensDistParams();
  const std::size_t needed =
      static_cast<std::size_t>(tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(v.model));
  if (lens.size() < needed)
    cstd_assert_(__FILE__, __LINE__);
  for (std::size_t i = 0; i < needed && i < lens.size(); ++i)
    v.lens[i] = lens[i];
  return v;
}

tkCameraCalibrationParams tfCameraParamsFromValues(const tk_CameraValues& values) {
  const tk_IntrinsicValues& v = values.intrinsic;
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.distModel(v.model);
  if (v.model == tk2XformCalib2Defs::eRadial || v.model == tk2XformCalib2Defs::eSineTan) {
    intrinsic.centerOfExpansion(tkVector<2>(v.cx, v.cy));
    const int lensCount = tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(v.model);
    intrinsic.lensDistParams(std::vector<double>(v.lens, v.lens + lensCount));
  }
  intrinsic.cameraTranslation(tkVector<2>(v.tx, v.ty));
  intrinsic.cameraScale(tkPair<double>(v.sx, v.sy));
  intrinsic.cameraSkew(v.skew);
  tkCameraCalibrationParams params;
  params.physicalAtZEquals1FromImageParams(intrinsic);
  params.cameraPoseInverse(tk3QuaternionXform(values.quat, values.trans));
  return params;
}
