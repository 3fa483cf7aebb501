// Rigid transform of space restricted to a rotation about the Z axis and a translation:
//   p -> Rz(rotZ)·p + t,   Rz(θ) = [cos θ  −sin θ  0; sin θ  cos θ  0; 0  0  1].
// rotZ is in radians, counter-clockwise seen from +Z. Composition follows tkXform: (a * b)
// applies b first. Default-constructed: the identity.
#ifndef TK_ZROTATION_XFORM_H
#define TK_ZROTATION_XFORM_H

#include <tk/export.h>
#include <tk/vector.h>
#include <tk/xform.h>

class TK_API tk3ZRotationXform {
 public:
  tk3ZRotationXform() = default;
  tk3ZRotationXform(double rotZ, const tkVector<3>& trans) : rotZ_(rotZ), trans_(trans) {}
  // Takes the angle about Z from the matrix as atan2(M10, M00), in (−π, π], and copies the
  // translation. The rest of the matrix is not looked at: a matrix that also tilts Z, or scales,
  // yields the rotation about Z of its first column. Throws tkMathError::Singular when M00 and
  // M10 are both zero (no angle is defined) or not finite.
  explicit tk3ZRotationXform(const tkXform<3>& xform);

  // Angle about Z in radians, as given (not wrapped).
  double rotZ() const { return rotZ_; }
  const tkVector<3>& trans() const { return trans_; }
  void rotZ(double radians) { rotZ_ = radians; }
  void trans(const tkVector<3>& t) { trans_ = t; }

  // The same mapping as a general transform (Rz(rotZ), t).
  tkXform<3> xform() const;
  // Rz(rotZ)·p + t.
  tkVector<3> mapPoint(const tkVector<3>& p) const;

  // (−rotZ, −Rz(−rotZ)·t).
  tk3ZRotationXform inverse() const;
  // Composition applying o first: (rotZ + o.rotZ, Rz(rotZ)·o.t + t). Angles add unwrapped.
  tk3ZRotationXform operator*(const tk3ZRotationXform& o) const;

 private:
  double rotZ_ = 0.0;
  tkVector<3> trans_;
};

#endif
