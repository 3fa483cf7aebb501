#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/xform_calib2.h>

#include "invalid_argument.h"
#include "platform/core/calib2/camera_intrinsics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace {

// Largest deviation of the rotation from orthonormality accepted for E: well above the rounding
// of any rotation computed in doubles, far below any real shear or scale.
constexpr double kRotationTolerance = 1e-9;

void throwRecord(const std::string& fault) {
  tk_throwInvalidArgument(("tk2XformCalib2: " + fault).c_str());
}

tkMatrix<3> rotationOf(const cmath_xformLinear3& xform) {
  tkMatrix<3> m;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      m.element(r, c, xform.matrix[r][c]);
  return m;
}

void checkCameraFromWorld(const tkXform<3>& cameraFromWorld) {
  const tkMatrix<3>& R = cameraFromWorld.matrix();
  const tkVector<3>& t = cameraFromWorld.trans();
  bool finite = std::isfinite(t.x()) && std::isfinite(t.y()) && std::isfinite(t.z());
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      finite = finite && std::isfinite(R.element(r, c));
  if (!finite)
    throwRecord("the extrinsic transform has a value that is not finite");
  const tkMatrix<3> gram = R.transpose() * R - tkMatrix<3>::identity();
  double defect = std::abs(R.determinant() - 1.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      defect = std::max(defect, std::abs(gram.element(r, c)));
  if (!(defect <= kRotationTolerance))
    throwRecord("the extrinsic matrix is not a rotation");
}

void writeCameraFromWorld(ccal_xformCalib2& record, const tkXform<3>& cameraFromWorld) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      record.cameraFromWorld.matrix[r][c] = cameraFromWorld.matrix().element(r, c);
  record.cameraFromWorld.trans = {cameraFromWorld.trans().x(), cameraFromWorld.trans().y(),
                                  cameraFromWorld.trans().z()};
}

tkXform<3> cameraFromWorldOf(const ccal_xformCalib2& record) {
  const cmath_vect3& t = record.cameraFromWorld.trans;
  return tkXform<3>(rotationOf(record.cameraFromWorld), tkVector<3>(t.x, t.y, t.z));
}

// The intrinsic part of a record; throws as the tkCalib2ParamsIntrinsic constructor when the
// record's camera matrix or distortion list is not valid.
tkCalib2ParamsIntrinsic intrinsicOf(const ccal_xformCalib2& record) {
  const int32_t count = record.distortionParamCount;
  if (count < 0 || count > CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS)
    throwRecord("the distortion list has " + std::to_string(count) + " values");
  const cmath_xformLinear& k = record.imageFromDistorted;
  return tkCalib2ParamsIntrinsic(
      tkVector<2>(k.matrix[0][0], k.matrix[1][1]), k.matrix[0][1],
      tkVector<2>(k.trans.x, k.trans.y),
      static_cast<tk2XformCalib2Defs::tkCalib2DistortionModel>(record.distortionModel),
      std::vector<double>(record.distortionParams, record.distortionParams + count));
}

// The intrinsic part of a valid record (checkRecord) as the camera model sees it, read off the
// record's fields.
tk_CameraIntrinsics cameraOf(const ccal_xformCalib2& record) {
  const cmath_xformLinear& k = record.imageFromDistorted;
  tk_CameraIntrinsics camera;
  camera.scaleX = k.matrix[0][0];
  camera.scaleY = k.matrix[1][1];
  camera.skew = k.matrix[0][1];
  camera.transX = k.trans.x;
  camera.transY = k.trans.y;
  camera.distortionList(record.distortionModel, record.distortionParams,
                        static_cast<std::size_t>(record.distortionParamCount));
  return camera;
}

// A point mapped by a line-scan record's mapping function (ops->mapPoint or ->invMapPoint).
using LineScanMapping = cstd_status (*)(const clnsc_xformLineScan*, const cmath_vect*, cmath_vect*);
tkVector<2> mapThroughLineScan(const ccal_xformCalib2& record, LineScanMapping mapping,
                               const tkVector<2>& point) {
  const cmath_vect in{point.x(), point.y()};
  cmath_vect out{0.0, 0.0};
  tfThrowExceptionOnFailure(mapping(record.lineScan, &in, &out));
  return tkVector<2>(out.x, out.y);
}

// Determinant of the 3x3 matrix with columns a, b, c: a . (b x c).
double det3(const double a[3], const double b[3], const double c[3]) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

void checkRecord(const ccal_xformCalib2& record) {
  intrinsicOf(record);
  if (record.imageFromDistorted.matrix[1][0] != 0.0)
    throwRecord("the camera matrix has a lower-left element");
  checkCameraFromWorld(cameraFromWorldOf(record));
}

}  // namespace

tk2XformCalib2::tk2XformCalib2() {
  ccal_xformCalib2_construct(&record_);
}

tk2XformCalib2::tk2XformCalib2(const ccal_xformCalib2& record) {
  checkRecord(record);
  const cstd_status status = ccal_xformCalib2_constructCopy(&record_, &record);
  if (status < 0) {
    ccal_xformCalib2_destruct(&record_);
    tfThrowExceptionOnFailure(status);
  }
}

tk2XformCalib2::tk2XformCalib2(const tk2XformCalib2& other) {
  const cstd_status status = ccal_xformCalib2_constructCopy(&record_, &other.record_);
  if (status < 0) {
    ccal_xformCalib2_destruct(&record_);
    tfThrowExceptionOnFailure(status);
  }
}

tk2XformCalib2& tk2XformCalib2::operator=(const tk2XformCalib2& other) {
  tfThrowExceptionOnFailure(ccal_xformCalib2_assign(&record_, &other.record_));
  return *this;
}

tk2XformCalib2::~tk2XformCalib2() {
  ccal_xformCalib2_destruct(&record_);
}

void tk2XformCalib2::init(const tkCalib2ParamsIntrinsic& intrinsic,
                          const tkCalib2ParamsExtrinsic& extrinsic) {
  const tkXform<3> cameraFromWorld = extrinsic.xform();
  const std::vector<double>& params = intrinsic.distortionParams();
  ccal_xformCalib2 fresh;
  ccal_xformCalib2_construct(&fresh);
  fresh.imageFromDistorted.matrix[0][0] = intrinsic.scale().x();
  fresh.imageFromDistorted.matrix[0][1] = intrinsic.skew();
  fresh.imageFromDistorted.matrix[1][0] = 0.0;
  fresh.imageFromDistorted.matrix[1][1] = intrinsic.scale().y();
  fresh.imageFromDistorted.trans = {intrinsic.translation().x(), intrinsic.translation().y()};
  fresh.distortionModel = intrinsic.distortionModel();
  fresh.distortionParamCount = static_cast<int32_t>(params.size());
  std::copy(params.begin(), params.end(), fresh.distortionParams);
  writeCameraFromWorld(fresh, cameraFromWorld);
  // fresh holds no line-scan transform, so the assignment cannot fail; it releases ours.
  tfThrowExceptionOnFailure(ccal_xformCalib2_assign(&record_, &fresh));
  ccal_xformCalib2_destruct(&fresh);
}

tkCalib2ParamsIntrinsic tk2XformCalib2::intrinsicParams() const {
  return intrinsicOf(record_);
}

tkCalib2ParamsExtrinsic tk2XformCalib2::extrinsicParams() const {
  return tkCalib2ParamsExtrinsic(cameraFromWorldOf(record_));
}

tkXform<3> tk2XformCalib2::extrinsicXform() const {
  return cameraFromWorldOf(record_);
}

void tk2XformCalib2::extrinsicXform(const tkXform<3>& cameraFromWorld) {
  checkCameraFromWorld(cameraFromWorld);
  writeCameraFromWorld(record_, cameraFromWorld);
}

tkVector<2> tk2XformCalib2::mapPoint(const tkVector<2>& image) const {
  if (record_.lineScan != nullptr)
    return mapThroughLineScan(record_, record_.lineScanOps->mapPoint, image);
  // q, the position at Z = 1 of the image point (telecentric: the camera's (X, Y)), from the
  // camera model.
  const tk_CameraIntrinsics camera = cameraOf(record_);
  tkVector<2> q;
  tfThrowExceptionOnFailure(camera.positionAtZ1FromImage(image, q));
  const double(&r)[3][3] = record_.cameraFromWorld.matrix;
  const cmath_vect3& t = record_.cameraFromWorld.trans;
  if (camera.model == CCAL_DISTORTION_TELECENTRIC) {
    // (E*P).xy = x*R.col0.xy + y*R.col1.xy + t.xy = q, by Cramer's rule.
    const double det = r[0][0] * r[1][1] - r[0][1] * r[1][0];
    const double bx = q.x() - t.x;
    const double by = q.y() - t.y;
    return tkVector<2>((bx * r[1][1] - r[0][1] * by) / det, (r[0][0] * by - r[1][0] * bx) / det);
  }
  // The plane point P = (x, y, 0) lies on the ray of (q, 1) when E*P = lambda*(q, 1):
  // x*R.col0 + y*R.col1 - lambda*(q, 1) = -t. Cramer's rule on the three columns; the
  // determinant vanishes exactly when the ray is parallel to the plane.
  const double col0[3] = {r[0][0], r[1][0], r[2][0]};
  const double col1[3] = {r[0][1], r[1][1], r[2][1]};
  const double ray[3] = {-q.x(), -q.y(), -1.0};
  const double rhs[3] = {-t.x, -t.y, -t.z};
  const double det = det3(col0, col1, ray);
  return tkVector<2>(det3(rhs, col1, ray) / det, det3(col0, rhs, ray) / det);
}

tkVector<2> tk2XformCalib2::invMapPoint(const tkVector<2>& plane) const {
  if (record_.lineScan != nullptr)
    return mapThroughLineScan(record_, record_.lineScanOps->invMapPoint, plane);
  // Pc = E*(x, y, 0), projected by the camera model (telecentric: its image of (Pc.x, Pc.y)).
  const tk_CameraIntrinsics camera = cameraOf(record_);
  const ccal::detail::CameraModel model = camera.cameraModel();
  const tkVector<3> cameraPoint =
      cameraFromWorldOf(record_).mapPoint(tkVector<3>(plane.x(), plane.y(), 0.0));
  const double pc[3] = {cameraPoint.x(), cameraPoint.y(), cameraPoint.z()};
  double image[2] = {0.0, 0.0};
  if (camera.model == CCAL_DISTORTION_TELECENTRIC)
    model.imageFromPositionAtZ1(pc, image, nullptr);
  else if (model.project(pc, image, nullptr) == ccal::detail::ProjectionStatus::kAtDepthZero)
    image[0] = image[1] = std::numeric_limits<double>::quiet_NaN();  // in the focal plane
  return tkVector<2>(image[0], image[1]);
}

bool tk2XformCalib2::operator==(const tk2XformCalib2& other) const {
  int32_t equal = 0;
  tfThrowExceptionOnFailure(ccal_xformCalib2_compareEqual(&record_, &other.record_, &equal));
  return equal != 0;
}
