// A rotation of space as three angles (rx, ry, rz) in radians, with
//   matrix = Rz(rz)·Ry(ry)·Rx(rx)
// where Rx, Ry, Rz are the right-handed rotations about the X, Y and Z axes: a vector is turned
// about X first, then about Y, then about Z (all axes fixed).
//
// Angles read from a matrix lie in rx, rz ∈ (−π, π] and ry ∈ [−π/2, π/2]. At gimbal lock
// (ry = ±π/2, where only rx ∓ rz is defined, detected as cos ry below 1e-15) rz is set to 0 and
// rx carries the whole rotation about the common axis.
#ifndef TK_ANGLE_VECT_H
#define TK_ANGLE_VECT_H

#include <tk/export.h>
#include <tk/matrix.h>

class TK_API tk3AngleVect {
 public:
  // No rotation.
  tk3AngleVect() = default;
  tk3AngleVect(double rx, double ry, double rz) : rx_(rx), ry_(ry), rz_(rz) {}
  // The angles of the rotation closest to `m`; see matrix(const tkMatrix<3>&).
  explicit tk3AngleVect(const tkMatrix<3>& m) { matrix(m); }

  double rx() const { return rx_; }
  double ry() const { return ry_; }
  double rz() const { return rz_; }
  void rx(double radians) { rx_ = radians; }
  void ry(double radians) { ry_ = radians; }
  void rz(double radians) { rz_ = radians; }

  // Rz(rz)·Ry(ry)·Rx(rx).
  tkMatrix<3> matrix() const;
  // Sets the angles from a matrix. The matrix is first replaced by closestRotation(m), so a
  // rotation that has picked up rounding or estimation noise is accepted. Throws as
  // closestRotation(); the angles are unchanged then.
  void matrix(const tkMatrix<3>& m);

  // The rotation R (RᵀR = I, det R = +1) nearest to m in the Frobenius norm: U·diag(1, 1, ±1)·Vᵀ
  // from the singular value decomposition m = U·S·Vᵀ, the sign making det R = +1. Throws
  // tkMathError::Singular when m is singular (tkMatrix::isSingular) or has a non-finite entry:
  // such a matrix is no perturbed rotation and its nearest rotation need not be unique.
  static tkMatrix<3> closestRotation(const tkMatrix<3>& m);

 private:
  double rx_ = 0.0;
  double ry_ = 0.0;
  double rz_ = 0.0;
};

#endif
