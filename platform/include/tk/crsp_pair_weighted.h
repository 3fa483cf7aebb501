// A weighted correspondence: an image point (pixels), the physical point it shows (client
// units, 3-D; points of a plate have z = 0) and the weight of the pair in a fit.
#ifndef TK_CRSP_PAIR_WEIGHTED_H
#define TK_CRSP_PAIR_WEIGHTED_H

#include <tk/vector.h>

class tkCrspPairWeighted {
 public:
  tkCrspPairWeighted() = default;
  // The weight is stored as given; fits that consume pairs expect it finite and >= 0 and check.
  tkCrspPairWeighted(const tkVector<2>& image, const tkVector<3>& physical3D, double weight = 1.0)
      : image_(image), physical3D_(physical3D), weight_(weight) {}

  const tkVector<2>& image() const { return image_; }
  // x and y of the physical point.
  tkVector<2> physical() const { return tkVector<2>(physical3D_.x(), physical3D_.y()); }
  const tkVector<3>& physical3D() const { return physical3D_; }
  double weight() const { return weight_; }

  void image(const tkVector<2>& p) { image_ = p; }
  // Sets x and y of the physical point and keeps its z.
  void physical(const tkVector<2>& p) { physical3D_ = tkVector<3>(p.x(), p.y(), physical3D_.z()); }
  void physical3D(const tkVector<3>& p) { physical3D_ = p; }
  void weight(double w) { weight_ = w; }

  bool operator==(const tkCrspPairWeighted& o) const {
    return image_ == o.image_ && physical3D_ == o.physical3D_ && weight_ == o.weight_;
  }
  bool operator!=(const tkCrspPairWeighted& o) const { return !(*this == o); }

 private:
  tkVector<2> image_;
  tkVector<3> physical3D_;
  double weight_ = 1.0;
};

#endif
