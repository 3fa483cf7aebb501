#include "ccal/single/camera_param_packing.h"

#include <proc/cstd_assert.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>

#include <cstddef>
#include <vector>

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

int tfCameraParamCount(Model model) {
  switch (model) {
    case tk2XformCalib2Defs::eNoDistortion:
      return 11;
    case tk2XformCalib2Defs::eRadial:
      return 14;
    case tk2XformCalib2Defs::eSineTan:
      return 17;
    default:
      cstd_assert_(__FILE__, __LINE__);
      return 0;
  }
}

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

int tfPackCameraParams(const tkCameraCalibrationParams& params, double* x) {
  const tk_IntrinsicValues v = tfIntrinsicValues(params.physicalAtZEquals1FromImageParams());
  x[tk_kTranslationX] = v.tx;
  x[tk_kTranslationY] = v.ty;
  x[tk_kScaleX] = v.sx;
  x[tk_kScaleY] = v.sy;
  x[tk_kSkew] = v.skew;
  const tk3Quaternion& quat = params.cameraPoseInverse().quat();
  const int unitValIndex = quat.unitValIndex();
  x[tk_kQuatVar1 + 0] = quat.var1();
  x[tk_kQuatVar1 + 1] = quat.var2();
  x[tk_kQuatVar1 + 2] = quat.var3();
  const tkVector<3>& t = params.cameraPoseInverse().trans();
  for (int i = 0; i < 3; ++i)
    x[tk_kPoseTranslationX + i] = t[i];
  const int lensCount = tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(v.model);
  if (v.model == tk2XformCalib2Defs::eRadial || v.model == tk2XformCalib2Defs::eSineTan) {
    x[tk_kCenterX] = v.cx;
    x[tk_kCenterY] = v.cy;
    for (int i = 0; i < lensCount; ++i)
      x[tk_kLensFirst + i] = v.lens[i];
  }
  return unitValIndex;
}

void tfUnpackCameraValues(const double* x, int unitValIndex, Model model, tk_CameraValues& out) {
  tk_IntrinsicValues& v = out.intrinsic;
  v = tk_IntrinsicValues();
  v.model = model;
  v.tx = x[tk_kTranslationX];
  v.ty = x[tk_kTranslationY];
  v.sx = x[tk_kScaleX];
  v.sy = x[tk_kScaleY];
  v.skew = x[tk_kSkew];
  if (model == tk2XformCalib2Defs::eRadial || model == tk2XformCalib2Defs::eSineTan) {
    v.cx = x[tk_kCenterX];
    v.cy = x[tk_kCenterY];
    const int lensCount = tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(model);
    for (int i = 0; i < lensCount; ++i)
      v.lens[i] = x[tk_kLensFirst + i];
  }
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(unitValIndex, x[tk_kQuatVar1], x[tk_kQuatVar1 + 1],
                            x[tk_kQuatVar1 + 2]);
  out.quat = quat;
  out.rotation = quat.rotationMatrix();
  out.trans = tkVector<3>(x[tk_kPoseTranslationX], x[tk_kPoseTranslationX + 1],
                          x[tk_kPoseTranslationX + 2]);
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
