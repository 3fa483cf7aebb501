// Quaternions q = a + b·i + c·j + d·k (a is the real part) as rotations of space.
//
// The rotation of q is R(q), which for a unit quaternion is
//   [ a²+b²−c²−d²   2(bc−ad)      2(bd+ac)    ]
//   [ 2(bc+ad)      a²−b²+c²−d²   2(cd−ab)    ]
//   [ 2(bd−ac)      2(cd+ab)      a²−b²−c²+d² ]
// and for any other non-zero quaternion that matrix divided by a²+b²+c²+d². The product is
// Hamilton's, so R(p * q) = R(p)·R(q): p * q rotates by q first. q and −q are the same rotation.
//
// Solvers see a unit quaternion as three free values: the component of largest magnitude is
// held fixed (unitValIndex) and the other three, divided by it, are the free values (var1 to
// var3). They are at most 1 in magnitude where the parameterisation is taken, and the map back
// (setUsingUnitValIndex) is smooth around that point.
#ifndef TK_QUATERNION_H
#define TK_QUATERNION_H

#include <tk/export.h>
#include <tk/matrix.h>
#include <tk/vector.h>

class TK_API tk3Quaternion {
 public:
  // The identity rotation (1, 0, 0, 0).
  tk3Quaternion() = default;
  // a + b·i + c·j + d·k, stored as given (not normalised).
  tk3Quaternion(double a, double b, double c, double d) : q_{a, b, c, d} {}
  // The unit quaternion of a rotation matrix, by Shepperd's method (it divides by the largest of
  // the four candidate components, so it stays accurate up to and at 180°). The result has
  // a >= 0. The matrix is taken to be a rotation; for one that is only nearly orthonormal the
  // result's error is of the order of the deviation. Throws tkMathError::Singular when an
  // entry is not finite.
  explicit tk3Quaternion(const tkMatrix<3>& rotation);

  double a() const { return q_[0]; }
  double b() const { return q_[1]; }
  double c() const { return q_[2]; }
  double d() const { return q_[3]; }
  // Component i in the order a, b, c, d; precondition 0 <= i < 4 (not checked).
  double operator[](int i) const { return q_[i]; }

  // a² + b² + c² + d².
  double normSquared() const {
    return q_[0] * q_[0] + q_[1] * q_[1] + q_[2] * q_[2] + q_[3] * q_[3];
  }
  double norm() const;

  // Scales this quaternion to unit norm and returns it. Throws tkMathError::Singular when the
  // norm is zero or not finite (the quaternion is then unchanged).
  tk3Quaternion& normalise();
  // A unit copy; throws as normalise().
  tk3Quaternion normalised() const;
  // (a, −b, −c, −d): the inverse rotation.
  tk3Quaternion conjugate() const { return tk3Quaternion(q_[0], -q_[1], -q_[2], -q_[3]); }
  // Hamilton product: rotates by o first, then by this.
  tk3Quaternion operator*(const tk3Quaternion& o) const;

  // R(q) as stated at the top of this file. Throws tkMathError::Singular for a zero or
  // non-finite quaternion.
  tkMatrix<3> rotationMatrix() const;
  // R(q)·v; throws as rotationMatrix(). Builds the matrix on each call: to rotate many vectors,
  // take rotationMatrix() once.
  tkVector<3> rotate(const tkVector<3>& v) const;

  // Index (0 = a ... 3 = d) of the component of largest magnitude; the lowest such index on a
  // tie. Throws tkMathError::Singular for the zero quaternion or a non-finite component.
  int unitValIndex() const;
  // The three components other than the one at unitValIndex(), in index order, each divided by
  // the held component. Throw as unitValIndex().
  double var1() const { return var(0); }
  double var2() const { return var(1); }
  double var3() const { return var(2); }
  // Sets the component at `index` to 1 and the others, in index order, to v1, v2, v3, then
  // normalises: the held component ends positive. Throws tkInvariantFailure when index is
  // outside 0..3 and tkMathError::Singular when a value is not finite (this is unchanged then).
  void setUsingUnitValIndex(int index, double v1, double v2, double v3);

  // Exact component-wise comparison (q and −q compare unequal although they rotate alike).
  bool operator==(const tk3Quaternion& o) const {
    return q_[0] == o.q_[0] && q_[1] == o.q_[1] && q_[2] == o.q_[2] && q_[3] == o.q_[3];
  }
  bool operator!=(const tk3Quaternion& o) const { return !(*this == o); }

 private:
  double var(int k) const;

  double q_[4] = {1.0, 0.0, 0.0, 0.0};
};

#endif
