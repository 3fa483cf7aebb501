// Parameter and projection uncertainty: the predicted standard deviations against the spread of
// re-solves with fresh noise, the warnings of data that cannot determine the model, and bad input.
#include "rig_data.h"

#include <ccal/calibration_uncertainty.h>
#include <ccal/camera_terms.h>
#include <ccal/image_refinement.h>
#include <ccal/multicamera_calibration.h>
#include <tk/exception.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;
using Kind = tkCalibrationWarningKind;

tkImageRefinementOptions on() {
  tkImageRefinementOptions options;
  options.enabled = true;
  return options;
}

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

tkXform<3> placementPose(const Params& rig, bool zRotation, std::size_t j) {
  return zRotation ? rig.calibrationPlatePoses()[j].xform()
                   : rig.arbitraryCalibrationPlatePoses()[j].xform();
}

// The data of set with every image point replaced by the truth's projection plus noise of σ.
void noisyCopy(const tkRigDataSet& set, double sigma, std::mt19937& random,
               tkMulticameraZRotationPlacementsWeighted& z,
               tkMulticameraArbitraryPlacementsWeighted& a) {
  std::normal_distribution<double> noise(0.0, sigma);
  z = tfWeightedZ(set.zData);
  a = tfWeightedA(set.aData);
  const auto redo = [&](std::vector<tkMulticameraWeightedList>& lists, const tkXform<3>& pose) {
    for (std::size_t c = 0; c < lists.size(); ++c)
      for (auto& k : lists[c]) {
        const tkVector<2> p = set.truth.invWarpPoint(pose.mapPoint(k.physical3D()),
                                                     static_cast<long>(c));
        k = tkCrspPairWeighted(p + tkVector<2>(noise(random), noise(random)), k.physical3D());
      }
  };
  for (std::size_t j = 0; j < z.size(); ++j)
    redo(z[j].first, placementPose(set.truth, true, j));
  for (std::size_t j = 0; j < a.size(); ++j)
    redo(a[j], placementPose(set.truth, false, j));
}

// mrcal's projection of the ray through pixel of camera c at distance d (under truth) as rig sees
// it: mapped into every placement the camera saw through truth, back through rig, averaged.
tkVector<2> reprojection(const tkRigDataSet& set, const Params& rig, long c,
                         const tkVector<2>& pixel, double d) {
  const tkVector<2> m = set.truth.physicalAtZEquals1FromImageParams()[c].warpPoint(pixel);
  const tkVector<3> ray(m.x() * d, m.y() * d, d);
  const tkXform<3> camera0 = set.truth.cameraPoseInverses()[c].xform();
  const tkXform<3> camera = rig.cameraPoseInverses()[c].xform();
  tkVector<3> sum(0.0, 0.0, 0.0);
  double count = 0.0;
  const auto add = [&](bool zRotation, std::size_t j) {
    const tkVector<3> plate =
        (camera0 * placementPose(set.truth, zRotation, j)).inverse().mapPoint(ray);
    sum = sum + (camera * placementPose(rig, zRotation, j)).mapPoint(plate);
    count += 1.0;
  };
  for (std::size_t j = 0; j < set.zData.size(); ++j)
    if (!set.zData[j].first[c].empty())
      add(true, j);
  for (std::size_t j = 0; j < set.aData.size(); ++j)
    if (!set.aData[j][c].empty())
      add(false, j);
  return rig.invWarpPoint(camera.inverse().mapPoint(sum * (1.0 / count)), c);
}

// Camera 0's terms the data determine: fx, cx and k (radial); under sine-tan, whose linear map
// shares a scale with p0 and p2, the focal length fx·s0 (s0 = p0/p1 + p2/p3) and the centre of
// expansion (its lens values p1, p3 lie in an undetermined valley).
std::vector<double> cameraTerms(const tkPhysicalAtZEquals1FromImageParams& m) {
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(m);
  if (m.distModel() != tk2XformCalib2Defs::eSineTan)
    return {k.fx, k.cx, m.k()};
  const std::vector<double>& p = m.lensDistParams();
  return {k.fx * (p[0] / p[1] + p[2] / p[3]), m.centerOfExpansion().x()};
}

// The predicted σ of camera 0's terms, its rotation and the projection at the centre and near a
// corner against the spread of re-solves (the image-residual minimum from the truth) on fresh
// noise.
TEST(CalibrationUncertainty, PredictedDeviationsMatchTheSpreadOfReSolves) {
  for (const std::string name : {"single-radial-noisy.json", "single-sinetan-noisy.json"}) {
    SCOPED_TRACE(name);
    const tkRigDataSet set = tfLoadRig(name);
    const bool sineTan = set.model == tk2XformCalib2Defs::eSineTan;
    const double sigma = set.noiseSigmaPx;
    std::mt19937 random(7);
    tkMulticameraZRotationPlacementsWeighted z;
    tkMulticameraArbitraryPlacementsWeighted a;
    noisyCopy(set, 0.0, random, z, a);
    tkUncertaintyOptions options;
    options.sigma = sigma;
    options.imageSizes = {{set.file.imageSize[0], set.file.imageSize[1]}};
    const tkCalibrationUncertainty u = tfCalibrationUncertainty(z, a, false, set.truth, options);
    EXPECT_EQ(u.rankDeficient(), sineTan);
    const double d = set.truth.cameraPoseInverses()[0].trans().length();
    const tkVector<2> centre(0.5 * set.file.imageSize[0], 0.5 * set.file.imageSize[1]);
    const tkVector<2> corner(0.1 * set.file.imageSize[0], 0.1 * set.file.imageSize[1]);
    const tkCameraDeviations& c = u.cameras()[0];
    std::vector<double> predicted =
        sineTan ? std::vector<double>{c.focalX, c.centreX} : std::vector<double>{c.fx, c.cx, c.lens[0]};
    predicted.push_back(c.rotationDeg[0]);
    const std::size_t terms = predicted.size();
    predicted.push_back(tfProjectionUncertainty(u, 0, centre, d).rms);
    predicted.push_back(tfProjectionUncertainty(u, 0, corner, d).rms);
    const int runs = 40;
    std::vector<double> sum(predicted.size(), 0.0), squares(predicted.size(), 0.0);
    for (int k = 0; k < runs; ++k) {
      noisyCopy(set, sigma, random, z, a);
      Params rig = set.truth;
      tfRefineOnImageResiduals(z, a, false, rig);
      std::vector<double> values = cameraTerms(rig.physicalAtZEquals1FromImageParams()[0]);
      const tkMatrix<3> dR = rig.cameraPoseInverses()[0].xform().matrix() *
                             set.truth.cameraPoseInverses()[0].xform().matrix().transpose();
      values.push_back(0.5 * (dR.element(2, 1) - dR.element(1, 2)) * kDegrees);
      for (std::size_t i = 0; i < terms; ++i) {
        sum[i] += values[i];
        squares[i] += values[i] * values[i];
      }
      const tkVector<2> qc = reprojection(set, rig, 0, centre, d) - centre;
      const tkVector<2> qk = reprojection(set, rig, 0, corner, d) - corner;
      squares[terms] += qc.dot(qc);
      squares[terms + 1] += qk.dot(qk);
    }
    // Under sine-tan a projection outside the data (the corner) moves with where a solve stops
    // along the lens values' valley, which its start decides: not compared (docs/uncertainty.md).
    const std::size_t compared = sineTan ? predicted.size() - 1 : predicted.size();
    for (std::size_t i = 0; i < compared; ++i) {
      const double spread = i < terms
                                ? std::sqrt((squares[i] - sum[i] * sum[i] / runs) / (runs - 1))
                                : std::sqrt(squares[i] / runs);
      EXPECT_NEAR(spread / predicted[i], 1.0, 0.3) << i;
    }
  }
}

// The real left camera: σ near OpenCV's for the same points (docs/uncertainty.md), view02's bad
// corners flagged; the same camera from one view of its flat plate cannot be determined and says
// so; bad input throws.
TEST(CalibrationUncertainty, WarningsOfRealDataAndBadInput) {
  const tkRigDataSet set = tfLoadRig("opencv-left.json");
  auto z = tfWeightedZ(set.zData);
  auto a = tfWeightedA(set.aData);
  tkUncertaintyOptions options;
  options.imageSizes = {{set.file.imageSize[0], set.file.imageSize[1]}};
  Params rig;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, z, a, on(), rig);
  const tkCalibrationUncertainty all = tfCalibrationUncertainty(z, a, false, rig, options);
  EXPECT_FALSE(all.rankDeficient());
  EXPECT_NEAR(all.sigma(), 0.304, 0.001);
  EXPECT_NEAR(all.cameras()[0].fx, 0.91, 0.01);
  ASSERT_EQ(all.warnings().size(), 1u);
  EXPECT_EQ(all.warnings()[0].kind, Kind::eViewRms);
  EXPECT_EQ(all.warnings()[0].placement, 1);  // view02, the first arbitrary placement

  // A view whose points all have weight 0 (rejected) leaves its pose undetermined, not exact.
  auto dropped = a;
  for (auto& k : dropped[0][0])
    k = tkCrspPairWeighted(k.image(), k.physical3D(), 0.0);
  const tkCalibrationUncertainty withoutView = tfCalibrationUncertainty(z, dropped, false, rig, options);
  EXPECT_TRUE(withoutView.rankDeficient());
  EXPECT_EQ(withoutView.parameters() - withoutView.rank(), 6);
  EXPECT_TRUE(std::isinf(withoutView.arbitraryPlacements()[0].translation[0]));
  EXPECT_TRUE(std::isfinite(withoutView.cameras()[0].fx));
  EXPECT_TRUE(std::isfinite(tfProjectionUncertainty(withoutView, 0, tkVector<2>(320, 240)).rms));

  auto oneView = a;
  oneView.clear();
  Params one;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(set.model, z, oneView, on(), one);
  const tkCalibrationUncertainty u = tfCalibrationUncertainty(z, oneView, false, one, options);
  std::vector<Kind> kinds;
  for (const auto& w : u.warnings())
    kinds.push_back(w.kind);
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::eRankDeficient, Kind::eFocalLengthUncertain,
                                      Kind::eLowCoverage}));
  EXPECT_TRUE(std::isinf(u.cameras()[0].fx));
  EXPECT_TRUE(std::isinf(tfProjectionUncertainty(u, 0, tkVector<2>(320.0, 240.0)).rms));

  const auto throwsInvariant = [&](const std::function<void()>& call, const char* what) {
    EXPECT_THROW(call(), tkInvariantFailure) << what;
  };
  for (double sigma : {-1.0, HUGE_VAL, std::nan("")}) {
    tkUncertaintyOptions bad = options;
    bad.sigma = sigma;
    throwsInvariant([&] { tfCalibrationUncertainty(z, a, false, rig, bad); }, "sigma");
  }
  throwsInvariant([&] { tfCalibrationUncertainty(z, oneView, false, rig, options); },
                  "a rig of another data set");
  throwsInvariant([&] { tfProjectionUncertainty(all, 0, tkVector<2>(700.0, 10.0)); },
                  "outside the image");
  throwsInvariant([&] { tfProjectionUncertainty(all, 1, tkVector<2>(10.0, 10.0)); },
                  "no such camera");
  throwsInvariant([&] { tfProjectionUncertainty(all, 0, tkVector<2>(10.0, 10.0), -1.0); },
                  "distance");
  throwsInvariant([&] { tfProjectionUncertaintyGrid(all, 0, 1, 5); }, "grid");
  throwsInvariant([&] { tkCalibrationUncertainty().sigma(); }, "empty");
  throwsInvariant([&] { tfRelativePoseDeviations(all, 0, 1); }, "relative to no camera");
  EXPECT_LT(tfRelativePoseDeviations(all, 0, 0).rotationDeg[0], 1e-9);  // nothing moves
  const std::vector<double> grid = tfProjectionUncertaintyGrid(all, 0, 3, 2);
  ASSERT_EQ(grid.size(), 6u);
  EXPECT_LT(grid[1], grid[0]);  // the top edge's middle against its corner
}

}  // namespace
