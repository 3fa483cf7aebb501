// The bundled telecentric data sets (data/telecentric-*.json) as the entry points take them, and
// their ground truth: the camera image = K * (E * H).xy + translation of a home-frame point H.
#ifndef CCAL_TESTS_SUPPORT_TELECENTRIC_SETS_H
#define CCAL_TESTS_SUPPORT_TELECENTRIC_SETS_H

#include <point_file.h>
#include <tk/calib2_params.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <string>
#include <vector>

struct tkTelecentricTruth {
  double noiseSigmaPx = 0.0;
  tkCalib2ParamsIntrinsic intrinsic;  // scale, skew, translation; model 7
  tkXform<3> cameraFromHome;          // E

  // The true image of a home-frame point.
  tkVector<2> image(const tkVector<3>& home) const;
};

struct tkTelecentricSet {
  std::vector<tkXform<3>> poses;                                 // plate -> home
  std::vector<std::vector<tkCrspPairWeighted>> correspondences;  // per pose, with the weights
  std::vector<std::vector<tkPair<tkVector<2>>>> pairs;           // per pose: (image, plate X, Y)
  tkTelecentricTruth truth;
};

// Loads "telecentric-exact.json" or "telecentric-noisy.json" from data/.
tkTelecentricSet loadTelecentricSet(const std::string& fileName);
// "telecentric-exact.json", loaded once per test program.
const tkTelecentricSet& exactTelecentricSet();

#endif
