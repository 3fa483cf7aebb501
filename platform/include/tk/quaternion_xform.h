// Rigid transform of space held as a unit quaternion and a translation: p -> R(q)·p + t.
//
// The rotation matrix is kept beside the quaternion, so mapping points costs one 3x3 product.
// Composition follows tkXform: (a * b) applies b first. Default-constructed: the identity.
#ifndef TK_QUATERNION_XFORM_H
#define TK_QUATERNION_XFORM_H

#include <tk/export.h>
#include <tk/quaternion.h>
#include <tk/vector.h>
#include <tk/xform.h>

class TK_API tk3QuaternionXform {
 public:
  tk3QuaternionXform() = default;
  // p -> R(quat)·p + trans. The quaternion is normalised (its sign is kept); throws
  // tkMathError::Singular when it is zero or not finite.
  tk3QuaternionXform(const tk3Quaternion& quat, const tkVector<3>& trans);
  // From a transform whose matrix is a rotation (see tk3Quaternion(const tkMatrix<3>&) for
  // what happens otherwise and what is thrown). The translation is copied.
  explicit tk3QuaternionXform(const tkXform<3>& xform);

  // The unit quaternion.
  const tk3Quaternion& quat() const { return quat_; }
  const tkVector<3>& trans() const { return trans_; }
  // Setters; quat(q) normalises and throws as the constructor.
  void quat(const tk3Quaternion& q);
  void trans(const tkVector<3>& t) { trans_ = t; }

  // The same mapping as a general transform (R(q), t).
  tkXform<3> xform() const { return tkXform<3>(rotation_, trans_); }
  // R(q)·p + t.
  tkVector<3> mapPoint(const tkVector<3>& p) const { return rotation_ * p + trans_; }
  // R(q)·v.
  tkVector<3> mapVector(const tkVector<3>& v) const { return rotation_ * v; }

  // p -> R(q)ᵀ·(p − t), held as (conjugate of q, −R(q)ᵀ·t).
  tk3QuaternionXform inverse() const;
  // Composition applying o first: (q·qo, R(q)·to + t).
  tk3QuaternionXform operator*(const tk3QuaternionXform& o) const;

 private:
  tk3Quaternion quat_;
  tkMatrix<3> rotation_ = tkMatrix<3>::identity();
  tkVector<3> trans_;
};

#endif
