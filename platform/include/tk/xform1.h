// One-dimensional affine transform x -> scale·x + offset.
//
// Used for the lens of a line-scan camera (a distorted position at Z = 1 to pixels along the
// sensor). Default-constructed: the identity (scale 1, offset 0).
#ifndef TK_XFORM1_H
#define TK_XFORM1_H

#include <tk/export.h>

class TK_API tk1Xform {
 public:
  tk1Xform() = default;
  tk1Xform(double scale, double offset) : scale_(scale), offset_(offset) {}

  double scale() const { return scale_; }
  double offset() const { return offset_; }
  void scale(double s) { scale_ = s; }
  void offset(double o) { offset_ = o; }

  // scale·x + offset.
  double mapPoint(double x) const { return scale_ * x + offset_; }
  // scale·dx: a length or displacement, unaffected by the offset.
  double mapVector(double dx) const { return scale_ * dx; }

  // The transform y -> (y − offset) / scale. Throws tkMathError::Singular when the scale is
  // zero or the result would not be finite.
  tk1Xform inverse() const;

  // Composition applying o first: x -> scale·(o.scale·x + o.offset) + offset.
  tk1Xform operator*(const tk1Xform& o) const;
  // Same as (*this) * o; the name the calling code uses.
  tk1Xform compose(const tk1Xform& o) const { return *this * o; }

  bool operator==(const tk1Xform& o) const { return scale_ == o.scale_ && offset_ == o.offset_; }
  bool operator!=(const tk1Xform& o) const { return !(*this == o); }

 private:
  double scale_ = 1.0;
  double offset_ = 0.0;
};

#endif
