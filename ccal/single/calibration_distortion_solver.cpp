#include "ccal/single/calibration_distortion_solver.h"

#include "ccal/single/camera_projection.h"
#include "ccal/single/crsp_gradient_terms.h"
#include "ccal/single/sine_tan_cost.h"

#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/csys_attention.h>
#include <tk/failure.h>
#include <tk/quaternion_partials.h>
#include <tk/quaternion_xform.h>
#include <tk/real_eq.h>

#include "platform/core/invalid_argument.h"

#include <cmath>
#include <cstddef>

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

namespace {

long parameterCount(Model model) {
  const int n = tfCameraParamCount(model);
  if (n == 0)
    tk_throwInvalidArgument(
        "tk3DCalibrationDistortionSolver: the distortion model is none of eNoDistortion, "
        "eRadial and eSineTan");
  return n;
}

}  // namespace

tk3DCalibrationDistortionSolver::tk3DCalibrationDistortionSolver(Model model)
    : tkLevMarSolve(parameterCount(model), parameterCount(model), 1e-12, 1e-12, 300, 15, 0.01, 1e-8,
                    1e20, true, false),
      model_(model),
      records_() {
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_construct(&records_, 0));
}

tk3DCalibrationDistortionSolver::~tk3DCalibrationDistortionSolver() {
  cstd_vector_ccal_crspPair2D3DWeighted_destruct(&records_);
}

void tk3DCalibrationDistortionSolver::correspondences(const Correspondences& list) {
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_resize(&records_, list.size()));
  ccal_crspPair2D3DWeighted* records = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_getBegin(&records_, &records));
  for (std::size_t i = 0; i < list.size(); ++i) {
    const tkVector<2>& p = list[i].first.first;
    const tkVector<3>& P = list[i].first.second;
    records[i] = ccal_crspPair2D3DWeighted{{p.x(), p.y()}, {P.x(), P.y(), P.z()}, list[i].second};
  }
  correspondences_ = list;
}

long tk3DCalibrationDistortionSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  if (model_ == tk2XformCalib2Defs::eSineTan)
    return numericalGradient(x.data(), f.data());
  return analyticGradient(x.data(), f.data());
}

long tk3DCalibrationDistortionSolver::analyticGradient(const double* x, double* f) const {
  tk_CameraValues values;
  tfUnpackCameraValues(x, unitValIndex_, model_, values);
  const long attention = csys_attention_check();
  if (attention < 0)
    return attention;
  c3d_ptRayGenericPoly acc;
  tfThrowExceptionOnFailure(c3d_ptRayGenericPoly_init(&acc));
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));

  for (std::size_t i = 0; i < count; ++i) {
    const ccal_crspPair2D3DWeighted& r = records[i];
    if (r.w == 0.0)
      continue;  // adds exactly nothing
    const tkVector<3> P(r.P.x, r.P.y, r.P.z);
    const tkVector<3> Pc = values.rotation * P + values.trans;
    if (tfRealEq(Pc.z(), 0.0, 1e-15))
      continue;
    const tkVector<2> q(Pc.x() / Pc.z(), Pc.y() / Pc.z());
    tkVector<2> m;
    tfAddIntrinsicGradientTerm(values.intrinsic, tkVector<2>(r.p.x, r.p.y), q, r.w, f, &m);
    const double inverseDepth = 1.0 / Pc.z();
    tfAddPoseTerms(acc, P, m, r.w * (inverseDepth * inverseDepth));
  }

  double partials[6];
  tfGetQuaternionPartialDerivatives(tk3QuaternionXform(values.quat, values.trans), unitValIndex_,
                                    acc, partials);
  for (int k = 0; k < 6; ++k)
    f[tk_kQuatVar1 + k] = partials[k];
  return 0;
}

long tk3DCalibrationDistortionSolver::numericalGradient(const double* x, double* f) const {
  const double h = 1e-8;
  const int n = static_cast<int>(getSize());
  tk_SineTanCentralCameras cameras;
  tfPrepareSineTanCentralCameras(x, unitValIndex_, h, cameras);
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));
  // sums[2i] = J(x + h·eᵢ), sums[2i + 1] = J(x − h·eᵢ).
  double sums[2 * tk_kMaxCameraParams] = {};
  tfAddSineTanCentralCosts(cameras, records, count, nullptr, sums);
  for (int i = 0; i < n; ++i)
    f[i] = (sums[2 * i] - sums[2 * i + 1]) / h;
  return 0;
}

tkCameraCalibrationParams tk3DCalibrationDistortionSolver::unpack(const tkNMMatrix& x) const {
  tk_CameraValues values;
  tfUnpackCameraValues(x.data(), unitValIndex_, model_, values);
  return tfCameraParamsFromValues(values);
}

double tk3DCalibrationDistortionSolver::cost(const tkNMMatrix& x) const {
  tk_CameraValues values;
  tfUnpackCameraValues(x.data(), unitValIndex_, model_, values);
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));
  return tk_CameraProjection(values).weightedSquaredError(records, count);
}
