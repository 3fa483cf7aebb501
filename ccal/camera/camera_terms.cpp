#include <ccal/camera_terms.h>
#include <proc/clnsc_xformCalib2.h>
#include <tk/quaternion.h>

#include "platform/core/invalid_argument.h"

#include <cmath>

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

const struct {
  Model model;
  const char* name;
} kModelNames[] = {{tk2XformCalib2Defs::eRadial, "radial"},
                   {tk2XformCalib2Defs::eSineTan, "sine-tan"},
                   {tk2XformCalib2Defs::eNoDistortion, "none"},
                   {tk2XformCalib2Defs::eTelecentric, "telecentric"}};

tkLineScanTerms termsOf(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  tkLineScanTerms terms;
  terms.offset = camera.lens.offset;
  terms.scale = camera.lens.scale;
  terms.k1 = camera.lens.k1;
  terms.k2 = camera.lens.k2;
  const c3d_quaternion& q = camera.poseInverseRotation.quaternion;
  terms.quaternion[0] = q.a;
  terms.quaternion[1] = q.b;
  terms.quaternion[2] = q.c;
  terms.quaternion[3] = q.d;
  const cmath_vect3& t = camera.poseInverseTranslation;
  terms.translation = tkVector<3>(t.x, t.y, t.z);
  // C = -R^T T: the camera frame's origin seen from the client frame.
  const tkMatrix<3> r = tk3Quaternion(q.a, q.b, q.c, q.d).rotationMatrix();
  terms.centre = -(r.transpose() * terms.translation);
  const cmath_vect3& m = camera.scannerMotion;
  terms.motion = tkVector<3>(m.x, m.y, m.z);
  return terms;
}

}  // namespace

tkCameraMatrixTerms tfCameraMatrixTerms(const tkCalib2ParamsIntrinsic& intrinsic) {
  tkCameraMatrixTerms terms;
  terms.fx = intrinsic.scale().x();
  terms.fy = intrinsic.scale().y();
  terms.cx = intrinsic.translation().x();
  terms.cy = intrinsic.translation().y();
  terms.skew = intrinsic.skew();
  return terms;
}

tkCameraMatrixTerms tfCameraMatrixTerms(const tkPhysicalAtZEquals1FromImageParams& model) {
  // K = L^-1 of the upper-triangular L = [[sx, s, tx], [0, sy, ty]].
  const double sx = model.cameraScale().first, sy = model.cameraScale().second;
  const double s = model.cameraSkew();
  const tkVector<2>& t = model.cameraTranslation();
  tkCameraMatrixTerms terms;
  terms.fx = 1.0 / sx;
  terms.fy = 1.0 / sy;
  terms.skew = -s / (sx * sy);
  terms.cx = -(terms.fx * t.x() + terms.skew * t.y());
  terms.cy = -terms.fy * t.y();
  return terms;
}

void tfSetCameraMatrixTerms(tkPhysicalAtZEquals1FromImageParams& model,
                            const tkCameraMatrixTerms& terms) {
  const double values[5] = {terms.fx, terms.fy, terms.cx, terms.cy, terms.skew};
  for (double v : values)
    if (!std::isfinite(v))
      tk_throwInvalidArgument("tfSetCameraMatrixTerms: a value of K is not finite");
  if (terms.fx == 0.0 || terms.fy == 0.0)
    tk_throwInvalidArgument("tfSetCameraMatrixTerms: fx and fy must not be 0");
  const double sx = 1.0 / terms.fx, sy = 1.0 / terms.fy;
  const double s = -terms.skew / (terms.fx * terms.fy);
  model.cameraScale(tkPair<double>(sx, sy));
  model.cameraSkew(s);
  model.cameraTranslation(tkVector<2>(-(sx * terms.cx + s * terms.cy), -sy * terms.cy));
}

const char* tfDistortionModelName(Model model) {
  for (const auto& entry : kModelNames)
    if (entry.model == model)
      return entry.name;
  return nullptr;
}

bool tfDistortionModelFromName(const std::string& name, Model& model) {
  for (const auto& entry : kModelNames) {
    if (name == entry.name) {
      model = entry.model;
      return true;
    }
  }
  return false;
}

tkLineScanTerms tfLineScanTerms(const tk2XformLineScan& lineScan) {
  return termsOf(lineScan.lineScan()->camera);
}

bool tfLineScanTerms(const tk2XformCalib2& xform, tkLineScanTerms& terms) {
  const clnsc_xformLineScan* record = nullptr;
  if (ccal_getLineScanTransform(&xform.data(), &record) < 0 || record == nullptr)
    return false;
  terms = termsOf(record->camera);
  return true;
}
