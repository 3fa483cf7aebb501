// The mathematics of a line-scan camera record, shared by the line-scan procedural functions:
// rotations and quaternions, the lens polynomial and its inverse, and the camera's mappings in
// the affine-row form that is built once per call.
//
// With m = R·M (the motion in camera axes) and P~ = (X, Y, 1), a plate point is imaged at
//   v = rowV·P~,   x = (rowX·P~)/(rowZ·P~),   u = scale·D(x) + offset,
//   rowV = (R10, R11, Ty)/m_y,  rowX = (R00, R01, Tx) − m_x·rowV,  rowZ = (R20, R21, Tz) −
//   m_z·rowV,
// where rowX·P~ and rowZ·P~ are the camera x and z of the point at the scan line that sees it.
#ifndef PLATFORM_PROC_CLNSC_CAMERAGEOMETRY_H
#define PLATFORM_PROC_CLNSC_CAMERAGEOMETRY_H

#include <proc/c3d_quaternion.h>
#include <proc/clnsc_lineScanCamera.h>

struct clnsc_cameraGeometry {
  double rotation[3][3];  // R, client -> camera
  double motion[3];       // m = R·M
  double rowV[3];
  double rowX[3];
  double rowZ[3];
  double offset;
  double scale;
  double k1;
  double k2;
};

// R(q) of a unit quaternion (a the real part); rows are the camera axes in client coordinates.
void clnsc_rotationOfQuaternion(const c3d_quaternion& q, double rotation[3][3]);
// The unit quaternion of a rotation matrix by the largest-diagonal method, with a > 0 (when
// a = 0: the first non-zero component positive).
c3d_quaternion clnsc_quaternionOfRotation(const double rotation[3][3]);
// q with a > 0, or the first non-zero component positive when a = 0.
c3d_quaternion clnsc_canonicalSign(const c3d_quaternion& q);

// D(x) = x + k1·x³ + k2·x⁵ and D'(x) = 1 + 3·k1·x² + 5·k2·x⁴.
inline double clnsc_lensDistort(double k1, double k2, double x) {
  const double x2 = x * x;
  return x * (1.0 + x2 * (k1 + k2 * x2));
}
inline double clnsc_lensSlope(double k1, double k2, double x) {
  const double x2 = x * x;
  return 1.0 + x2 * (3.0 * k1 + 5.0 * k2 * x2);
}
// x with D(x) = distorted on the monotone branch of D through 0 (bracketed Newton); NaN when
// that branch does not reach distorted.
double clnsc_lensUndistort(double k1, double k2, double distorted);

// The rows and lens of a camera record.
clnsc_cameraGeometry clnsc_cameraGeometryOf(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera);

// Plate point (X, Y) -> image point (u, v).
void clnsc_plateToImage(const clnsc_cameraGeometry& geometry, double X, double Y, double& u,
                        double& v);
// Image point (u, v) -> plate point (X, Y); NaN when the lens cannot be inverted there or the
// pixel's plate line is parallel to the scan line.
void clnsc_imageToPlate(const clnsc_cameraGeometry& geometry, double u, double v, double& X,
                        double& Y);
// The derivative of the plate -> image mapping at (X, Y): jacobian[row][column], rows (u, v),
// columns (X, Y).
void clnsc_plateToImageJacobian(const clnsc_cameraGeometry& geometry, double X, double Y,
                                double jacobian[2][2]);

// True when every value of the camera is finite and the lens scale is not 0.
bool clnsc_cameraIsValid(const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera);

#endif
