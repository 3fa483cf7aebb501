// Affine transforms x -> M·x + t of the plane and of space: tkXform<2>, tkXform<3>.
//
// A transform maps points of a source frame into a destination frame; (a * b) is the composition
// that applies b first, so (a * b).mapPoint(p) == a.mapPoint(b.mapPoint(p)). Default-constructed
// transforms are the identity.
#ifndef TK_XFORM_H
#define TK_XFORM_H

#include <tk/matrix.h>
#include <tk/vector.h>

template <int N>
class tkXform {
 public:
  // The identity.
  tkXform() : matrix_(tkMatrix<N>::identity()), trans_() {}
  // x -> matrix·x + trans.
  tkXform(const tkMatrix<N>& matrix, const tkVector<N>& trans) : matrix_(matrix), trans_(trans) {}

  static tkXform identity() { return tkXform(); }

  const tkMatrix<N>& matrix() const { return matrix_; }
  const tkVector<N>& trans() const { return trans_; }
  void matrix(const tkMatrix<N>& m) { matrix_ = m; }
  void trans(const tkVector<N>& t) { trans_ = t; }

  // M·p + t.
  tkVector<N> mapPoint(const tkVector<N>& p) const { return matrix_ * p + trans_; }
  // M·v: a direction or displacement, unaffected by the translation.
  tkVector<N> mapVector(const tkVector<N>& v) const { return matrix_ * v; }

  // The transform x -> M⁻¹·(x − t). Throws tkMathError::Singular when M is singular
  // (see tkMatrix::isSingular).
  tkXform inverse() const {
    const tkMatrix<N> inv = matrix_.inverse();
    return tkXform(inv, -(inv * trans_));
  }

  // Composition applying o first: p -> M·(Mo·p + to) + t.
  tkXform operator*(const tkXform& o) const {
    return tkXform(matrix_ * o.matrix_, matrix_ * o.trans_ + trans_);
  }

  // Exact comparison of matrix and translation.
  bool operator==(const tkXform& o) const { return matrix_ == o.matrix_ && trans_ == o.trans_; }
  bool operator!=(const tkXform& o) const { return !(*this == o); }

 private:
  tkMatrix<N> matrix_;
  tkVector<N> trans_;
};

// The general affine transform of the plane, used between image frames (pixels to pixels,
// pixels to a client frame); the same type as tkXform<2>.
using tk2XformLinear = tkXform<2>;

#endif
