// Normalisation of image coordinates before a camera solve.
//
// Over a set of image points (pixels) with per-axis mean (mx, my) and population standard
// deviation (σx, σy), T is the transform with matrix diag(3σx, 3σy) and translation (mx, my),
// and the normalisation is N = T⁻¹:
//   N(p) = ((p.x − mx) / (3σx), (p.y − my) / (3σy)),
// which puts the points around the origin with coordinates of order 1/3. When T is singular (all
// points share a coordinate, or there is none) N is the identity. An intrinsic model of the
// pixel frame becomes the model of the normalised frame by mapRight(N⁻¹) and returns to pixels
// by mapRight(N).
#ifndef CCAL_SINGLE_IMAGE_NORMALISATION_H
#define CCAL_SINGLE_IMAGE_NORMALISATION_H

#include <tk/statistics.h>
#include <tk/vector.h>
#include <tk/xform.h>

class tk_ImageNormaliser {
 public:
  // Adds one image point (every point counts once, whatever its weight). Throws
  // tkInvariantFailure when a coordinate is not finite.
  void add(const tkVector<2>& imagePoint) {
    x_.add(imagePoint.x());
    y_.add(imagePoint.y());
  }
  // N as stated above. With no point added reports a failed internal assertion (cstd_assert_)
  // and returns the identity.
  tk2XformLinear normalisation() const;

 private:
  tkStatistics x_;
  tkStatistics y_;
};

#endif
