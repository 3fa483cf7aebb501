// Helper of the telecentric tests: the mapping error of a calibrated camera against a set's
// ground truth.
#ifndef CCAL_TESTS_TELCNTRC_TELECENTRIC_EXPECT_H
#define CCAL_TESTS_TELCNTRC_TELECENTRIC_EXPECT_H

#include <tk/xform_calib2.h>

#include "support/exception_expect.h"
#include "support/telecentric_sets.h"

#include <algorithm>

// Largest distance (pixels), over every correspondence of the set, between the image that the
// calibrated camera predicts (intrinsic part applied to (E * pose * P).xy) and the true image.
inline double LargestMappingError(const tk2XformCalib2& camera, const tkTelecentricSet& set) {
  const tkXform<3> E = camera.extrinsicXform();
  const tkCalib2ParamsIntrinsic K = camera.intrinsicParams();
  double largest = 0.0;
  for (std::size_t i = 0; i < set.poses.size(); ++i)
    for (const tkCrspPairWeighted& c : set.correspondences[i]) {
      const tkVector<3> home = set.poses[i].mapPoint(c.physical3D());
      const tkVector<3> Q = E.mapPoint(home);
      const tkVector<2> predicted = K.mapPoint(tkVector<2>(Q.x(), Q.y()));
      largest = std::max(largest, (predicted - set.truth.image(home)).length());
    }
  return largest;
}

#endif
