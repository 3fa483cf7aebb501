// Outlier rejection around the rig solves (<ccal/outlier_rejection.h>): exact and contaminated
// noisy data through the real solves, then the rule's mechanics and bad input through solves
// that return a fixed rig.
#include "multicam/rig_data.h"
#include "multicam/rig_scene.h"

#include <ccal/multicamera_calibration_errors.h>
#include <ccal/outlier_rejection.h>
#include <gtest/gtest.h>
#include <tk/exception.h>

#include <cmath>
#include <random>
#include <set>
#include <tuple>

namespace {

using Rig = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;
using Point = std::tuple<bool, std::size_t, std::size_t, std::size_t>;  // z, placement, cam, row

struct Weighted {
  tkMulticameraZRotationPlacementsWeighted z;
  tkMulticameraArbitraryPlacementsWeighted a;
};

Weighted weighted(const tkRigDataSet& set) {
  return {tfWeightedZ(set.zData), tfWeightedA(set.aData)};
}

tkCrspPairWeighted& pointAt(Weighted& data, const Point& p) {
  const auto& [zRotation, j, c, i] = p;
  return zRotation ? data.z[j].first[c][i] : data.a[j][c][i];
}

// Moves `fraction` of all points by 3..20 px in random directions (fixed seed).
std::set<Point> contaminate(Weighted& data, double fraction, unsigned seed) {
  std::vector<Point> all;
  for (std::size_t j = 0; j < data.z.size(); ++j)
    for (std::size_t c = 0; c < data.z[j].first.size(); ++c)
      for (std::size_t i = 0; i < data.z[j].first[c].size(); ++i)
        all.emplace_back(true, j, c, i);
  for (std::size_t j = 0; j < data.a.size(); ++j)
    for (std::size_t c = 0; c < data.a[j].size(); ++c)
      for (std::size_t i = 0; i < data.a[j][c].size(); ++i)
        all.emplace_back(false, j, c, i);
  std::mt19937 generator(seed);
  std::shuffle(all.begin(), all.end(), generator);
  std::uniform_real_distribution<double> angle(0.0, 6.283185307179586), length(3.0, 20.0);
  std::set<Point> moved(all.begin(), all.begin() + static_cast<long>(fraction * all.size()));
  for (const Point& p : moved) {
    tkCrspPairWeighted& k = pointAt(data, p);
    const double a = angle(generator), l = length(generator);
    k.image(k.image() + tkVector<2>(l * std::cos(a), l * std::sin(a)));
  }
  return moved;
}

std::set<Point> rejectedPoints(const tkOutlierRejectionResult& r) {
  std::set<Point> out;
  for (bool zRotation : {true, false}) {
    const auto& masks = zRotation ? r.zRotationInliers : r.arbitraryInliers;
    for (std::size_t j = 0; j < masks.size(); ++j)
      for (std::size_t c = 0; c < masks[j].size(); ++c)
        for (std::size_t i = 0; i < masks[j][c].size(); ++i)
          if (!masks[j][c][i])
            out.emplace(zRotation, j, c, i);
  }
  return out;
}

TEST(OutlierRejection, ExactDataIsSolvedOnceAndKeepsEveryPoint) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-exact.json");
  const Weighted data = weighted(set);
  struct Case {
    const char* name;
    tkRigSolve solve;
  };
  const Case cases[] = {{"calibration", tfRigCalibrationSolve(set.model)},
                        {"pose", tfRigPoseSolve(set.truth.physicalAtZEquals1FromImageParams())}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const tkOutlierRejectionResult r = tfRejectOutliers(c.solve, data.z, data.a);
    Rig plain;
    c.solve(data.z, data.a, plain);
    EXPECT_EQ(r.rejected, 0u);
    EXPECT_EQ(r.rounds, 0);
    EXPECT_FALSE(r.capped);
    tfExpectSameBits(r.rig, plain);
    tfExpectRigNear(r.rig, set.truth, 1e-9);
    EXPECT_LT(r.inlierRmsPooled, 1e-6);
    EXPECT_EQ(r.inlierRms, r.allRms);
  }
}

// The figure of docs/outliers.md in small: 2 % of a noisy set (σ = 0.1 px) moved by 3..20 px.
TEST(OutlierRejection, FindsMovedPointsOfANoisySetAndRecoversTheCleanFit) {
  const tkRigDataSet set = tfLoadRig("rig3-radial-noisy.json");
  const Weighted clean = weighted(set);
  Rig cleanFit;
  tfRigCalibrationSolve(set.model)(clean.z, clean.a, cleanFit);
  struct Case {
    const char* name;
    tkRigSolve solve;
  };
  const Case cases[] = {{"calibration", tfRigCalibrationSolve(set.model)},
                        {"pose", tfRigPoseSolve(cleanFit.physicalAtZEquals1FromImageParams())}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Weighted data = clean;
    const std::set<Point> moved = contaminate(data, 0.02, 7);
    const Weighted given = data;
    const tkOutlierRejectionResult r = tfRejectOutliers(c.solve, data.z, data.a);
    EXPECT_TRUE(data.z == given.z && data.a == given.a) << "the caller's data changed";

    const std::set<Point> flagged = rejectedPoints(r);
    std::size_t found = 0;
    for (const Point& p : moved)
      found += flagged.count(p);
    const std::size_t total = 7200, good = total - moved.size();
    EXPECT_GE(found, 0.98 * static_cast<double>(moved.size())) << "recall";
    EXPECT_LE(static_cast<double>(flagged.size() - found), 0.005 * static_cast<double>(good))
        << "good points flagged";
    EXPECT_EQ(r.rejected, flagged.size());
    EXPECT_FALSE(r.capped);
    EXPECT_NEAR(r.sigma, set.noiseSigmaPx, 0.1 * set.noiseSigmaPx);
    EXPECT_NEAR(r.inlierRmsPooled, std::sqrt(2.0) * set.noiseSigmaPx, 0.1 * set.noiseSigmaPx);
    EXPECT_GT(r.allRmsPooled, 5.0 * r.inlierRmsPooled);

    // Without rejection the moved points pull the fit by about 0.17 px; with it, the fit stays
    // within a few thousandths of a pixel of the fit on the clean set.
    Rig pulled;
    c.solve(data.z, data.a, pulled);
    EXPECT_LT(tfProjectionDifference(set, r.rig, cleanFit).rms, 0.01);
    EXPECT_GT(tfProjectionDifference(set, pulled, cleanFit).rms, 0.05);
  }
}

// ---- the rule and bad input, through solves that return a fixed rig ---------------------------

// Two cameras of the small scene (normalised image units) over two Z-rotation placements and one
// arbitrary placement of 7 x 7 points, with a deterministic noise of about 7e-4.
Weighted sceneData(const Rig& truth) {
  tk_ZRotationData z;
  tk_ArbitraryData a;
  tfRigSceneData(truth, z, a);
  Weighted data;
  std::size_t n = 0;
  const auto convert = [&n](const tk_WeightedCrspList& list) {
    tkMulticameraWeightedList out;
    for (const auto& k : list) {
      const double phase = 12.9898 * static_cast<double>(++n);
      out.emplace_back(k.first.first + tkVector<2>(1e-3 * std::sin(phase), 1e-3 * std::cos(phase)),
                       k.first.second, 1.0);
    }
    return out;
  };
  for (const auto& placement : z) {
    data.z.emplace_back();
    data.z.back().second = placement.second;
    for (const auto& list : placement.first)
      data.z.back().first.push_back(convert(list));
  }
  for (const auto& placement : a) {
    data.a.emplace_back();
    for (const auto& list : placement)
      data.a.back().push_back(convert(list));
  }
  return data;
}

void shift(tkMulticameraWeightedList& list, std::size_t from, std::size_t to, double dx) {
  for (std::size_t i = from; i < to; ++i)
    list[i].image(list[i].image() + tkVector<2>(dx, 0.0));
}

TEST(OutlierRejection, RuleDropsViewsReturnsPointsAndReportsBadInput) {
  const Rig truth = tfRigSceneTruth(2, tk2XformCalib2Defs::eRadial);
  const tkRigSolve fixedTruth = [&truth](const auto&, const auto&, Rig& out) { out = truth; };
  const Weighted scene = sceneData(truth);

  {
    SCOPED_TRACE("a view left with 7 of 12 points is dropped whole, the rest is kept");
    Weighted data = scene;
    data.a[0][1].resize(12);
    shift(data.a[0][1], 0, 5, 0.2);
    const tkOutlierRejectionResult r = tfRejectOutliers(fixedTruth, data.z, data.a);
    EXPECT_TRUE(r.arbitraryViews[0][1].dropped);
    EXPECT_EQ(r.arbitraryViews[0][1].points, 12u);
    EXPECT_EQ(r.arbitraryViews[0][1].inliers, 0u);
    EXPECT_EQ(r.rejected, 12u);
    EXPECT_FALSE(r.arbitraryViews[0][0].dropped);
    EXPECT_EQ(r.arbitraryViews[0][0].inliers, 49u);
    EXPECT_EQ(r.zRotationInliers[1][1], std::vector<bool>(49, true));
    EXPECT_LT(r.sigma, 1e-3);
  }
  {
    SCOPED_TRACE("all points of a view rejected: dropped; weights 0 of the caller stay out");
    Weighted data = scene;
    data.a[0][1].resize(12);
    shift(data.a[0][1], 0, 12, 0.2);
    data.z[1].first[0][3].weight(0.0);
    const tkOutlierRejectionResult r = tfRejectOutliers(fixedTruth, data.z, data.a);
    EXPECT_TRUE(r.arbitraryViews[0][1].dropped);
    EXPECT_EQ(r.rejected, 12u);
    EXPECT_FALSE(r.zRotationInliers[1][0][3]);
    EXPECT_EQ(r.zRotationViews[1][0].points, 48u);
    EXPECT_EQ(r.zRotationViews[1][0].inliers, 48u);
  }
  {
    SCOPED_TRACE("points come back when a later solve fits them; the round cap is reported");
    // The first solve puts the arbitrary placement 0.2 off; four points per camera see it.
    Rig off = truth;
    std::vector<tk3QuaternionXform> poses = off.arbitraryCalibrationPlatePoses();
    poses[0] = tk3QuaternionXform(poses[0].quat(), poses[0].trans() + tkVector<3>(0.2, 0.0, 0.0));
    off.arbitraryCalibrationPlatePoses(poses);
    int calls = 0;
    const tkRigSolve firstOff = [&](const auto&, const auto&, Rig& out) {
      out = calls++ == 0 ? off : truth;
    };
    Weighted data = scene;
    data.a[0][0].resize(4);
    data.a[0][1].resize(4);
    tkOutlierRejectionOptions options;
    options.minInliersPerView = 1;
    const tkOutlierRejectionResult back = tfRejectOutliers(firstOff, data.z, data.a, options);
    EXPECT_EQ(back.rejected, 0u);
    EXPECT_EQ(back.rounds, 2);
    EXPECT_FALSE(back.capped);
    calls = 0;
    options.maxRounds = 1;
    const tkOutlierRejectionResult capped = tfRejectOutliers(firstOff, data.z, data.a, options);
    EXPECT_TRUE(capped.capped);
    EXPECT_EQ(capped.rounds, 1);
    EXPECT_EQ(capped.rejected, 8u);
  }

  const auto expectThrow = [&](const char* what, auto&& call, auto type) {
    using Expected = typename decltype(type)::type;
    SCOPED_TRACE(what);
    EXPECT_THROW(call(), Expected);
  };
  struct Invariant {
    using type = tkInvariantFailure;
  };
  struct TooFew {
    using type = tk_MulticameraCalibrationDefs::TooFewCorrespondences;
  };
  struct Bad {
    using type = tk_MulticameraCalibrationDefs::BadParams;
  };
  const auto withOptions = [&](double trigger, double reject, int rounds) {
    tkOutlierRejectionOptions o;
    o.triggerSigmas = trigger, o.rejectSigmas = reject, o.maxRounds = rounds;
    return [&, o] { tfRejectOutliers(fixedTruth, scene.z, scene.a, o); };
  };
  expectThrow("reject threshold 0", withOptions(5.0, 0.0, 20), Invariant());
  expectThrow("trigger below reject", withOptions(3.0, 4.0, 20), Invariant());
  expectThrow("trigger NaN", withOptions(std::nan(""), 4.0, 20), Invariant());
  expectThrow("no round allowed", withOptions(5.0, 4.0, 0), Invariant());
  {
    Weighted data = scene;
    data.a[0][1][0].weight(-1.0);
    expectThrow(
        "negative weight", [&] { tfRejectOutliers(fixedTruth, data.z, data.a); }, Invariant());
    data = scene;
    data.a[0].pop_back();
    expectThrow(
        "a placement without camera 1's list",
        [&] { tfRejectOutliers(fixedTruth, data.z, data.a); }, Invariant());
    data = scene;
    for (auto& placement : data.z)
      for (auto& list : placement.first)
        for (auto& k : list)
          k.weight(0.0);
    for (auto& placement : data.a)
      for (auto& list : placement)
        for (auto& k : list)
          k.weight(0.0);
    expectThrow(
        "weights 0 everywhere", [&] { tfRejectOutliers(fixedTruth, data.z, data.a); }, TooFew());
    // Camera 1 sees only ten points, all of them far off.
    data = scene;
    for (auto& placement : data.z)
      placement.first[1].clear();
    data.a[0][1].resize(10);
    shift(data.a[0][1], 0, 10, 0.2);
    expectThrow(
        "a camera left without inliers", [&] { tfRejectOutliers(fixedTruth, data.z, data.a); },
        TooFew());
  }
  expectThrow(
      "a solve that returns no rig",
      [&] { tfRejectOutliers([](const auto&, const auto&, Rig&) {}, scene.z, scene.a); }, Bad());
  Rig diverged = truth;
  std::vector<tk3QuaternionXform> cameras = diverged.cameraPoseInverses();
  cameras[1] = tk3QuaternionXform(cameras[1].quat(), tkVector<3>(std::nan(""), 0.0, 1.0));
  diverged.cameraPoseInverses(cameras);
  expectThrow(
      "a solve that returns a rig projecting to NaN",
      [&] {
        tfRejectOutliers([&](const auto&, const auto&, Rig& out) { out = diverged; }, scene.z,
                         scene.a);
      },
      Bad());
}

}  // namespace
