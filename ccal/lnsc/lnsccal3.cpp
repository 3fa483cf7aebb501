#include "ccal/lnsc/lnsccal3.h"

#include <proc/c3d_quaternion.h>
#include <tk/archive_geometry.h>
#include <tk/failure.h>

#include "ccal/lnsc/lnscdist.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr unsigned char kCameraVersion = 0;
constexpr const char* kLocation = "ccal/lnsc/lnsccal3";
constexpr long kLine = 313;
// Largest deviation from orthonormality accepted for an archived rotation: far above the
// rounding of a stored rotation, far below any real shear.
constexpr double kRotationTolerance = 1e-9;
// Rounds of tk_setLineScanCameraPoseInverse's search for a matrix its quaternion reproduces;
// random rotations settle within 10 (most at once), and one round costs well under a microsecond.
constexpr int kSettleRounds = 32;

bool isRotation(const tkXform<3>& xform) {
  const tkMatrix<3>& R = xform.matrix();
  const tkVector<3>& t = xform.trans();
  bool finite = std::isfinite(t.x()) && std::isfinite(t.y()) && std::isfinite(t.z());
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      finite = finite && std::isfinite(R.element(r, c));
  if (!finite)
    return false;
  const tkMatrix<3> gram = R.transpose() * R - tkMatrix<3>::identity();
  double defect = std::fabs(R.determinant() - 1.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      defect = std::max(defect, std::fabs(gram.element(r, c)));
  return defect <= kRotationTolerance;
}

}  // namespace

tk3QuaternionXform tk_lineScanCameraPoseInverse(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  c3d_quaternionUnit rotation;
  cmath_vect3 translation;
  tfThrowExceptionOnFailure(clnsc_lineScanCameraUnconstrainedCalibrationParams_getCameraPoseInverse(
      &camera, &rotation, &translation));
  c3d_quaternion quaternion;
  tfThrowExceptionOnFailure(c3d_quaternionUnit_getQuaternion(&rotation, &quaternion));
  double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
  tfThrowExceptionOnFailure(c3d_quaternion_getValues(&quaternion, &a, &b, &c, &d));
  return tk3QuaternionXform(tk3Quaternion(a, b, c, d),
                            tkVector<3>(translation.x, translation.y, translation.z));
}

namespace {

// Sets the pose from a rotation (unchecked here).
void setPose(clnsc_lineScanCameraUnconstrainedCalibrationParams& camera,
             const tkXform<3>& poseInverse) {
  const tk3QuaternionXform pose(poseInverse);
  const tk3Quaternion& q = pose.quat();
  c3d_quaternion quaternion;
  tfThrowExceptionOnFailure(c3d_quaternion_initValues(&quaternion, q.a(), q.b(), q.c(), q.d()));
  c3d_quaternionUnit rotation;
  tfThrowExceptionOnFailure(c3d_quaternionUnit_initQuaternion(&rotation, &quaternion));
  const cmath_vect3 translation{pose.trans().x(), pose.trans().y(), pose.trans().z()};
  tfThrowExceptionOnFailure(clnsc_lineScanCameraUnconstrainedCalibrationParams_setCameraPoseInverse(
      &camera, &rotation, &translation));
}

}  // namespace

void tk_setLineScanCameraPoseInverse(clnsc_lineScanCameraUnconstrainedCalibrationParams& camera,
                                     const tkXform<3>& poseInverse) {
  if (!isRotation(poseInverse))
    throw tkArchive::Corrupt(L"the pose of a line-scan camera is not a rigid transform");
  // The camera holds a quaternion, and storing writes its matrix, which can differ from the
  // matrix read in the last bits. Settling on a matrix that the quaternion reproduces exactly
  // makes a loaded camera store the same bytes every time it is loaded and stored again.
  clnsc_lineScanCameraUnconstrainedCalibrationParams result = camera;
  tkXform<3> matrix = poseInverse;
  for (int round = 0; round < kSettleRounds; ++round) {
    setPose(result, matrix);
    const tkXform<3> stored = tk_lineScanCameraPoseInverse(result).xform();
    if (stored == matrix)
      break;
    matrix = stored;
  }
  camera = result;
}

tkArchive& operator||(tkArchive& ar, clnsc_lineScanCameraUnconstrainedCalibrationParams& camera) {
  unsigned char version = kCameraVersion;
  ar || version;
  if (version != kCameraVersion)
    throw tkArchive::UnknownVersion(kLocation, kLine);

  clnsc_physicalAtZEquals1FromLineScanImageParams lens;
  tfThrowExceptionOnFailure(
      clnsc_lineScanCameraUnconstrainedCalibrationParams_getLens(&camera, &lens));
  ar || lens;
  if (ar.isLoading())
    tfThrowExceptionOnFailure(
        clnsc_lineScanCameraUnconstrainedCalibrationParams_setLens(&camera, &lens));

  tkXform<3> poseInverse = tk_lineScanCameraPoseInverse(camera).xform();
  ar || poseInverse;
  if (ar.isLoading())
    tk_setLineScanCameraPoseInverse(camera, poseInverse);

  cmath_vect3 motion;
  tfThrowExceptionOnFailure(
      clnsc_lineScanCameraUnconstrainedCalibrationParams_getScannerMotion(&camera, &motion));
  tkVector<3> scannerMotion(motion.x, motion.y, motion.z);
  ar || scannerMotion;
  if (ar.isLoading()) {
    motion = {scannerMotion.x(), scannerMotion.y(), scannerMotion.z()};
    tfThrowExceptionOnFailure(
        clnsc_lineScanCameraUnconstrainedCalibrationParams_setScannerMotion(&camera, &motion));
  }
  return ar;
}
