#include <ccal/multicamera_calibration_errors.h>
#include <ccal/outlier_rejection.h>
#include <tk/exception.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace ccal::detail {
namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

[[noreturn]] void invalid(const std::string& message) {
  throw tkInvariantFailure(std::wstring(message.begin(), message.end()));
}

[[noreturn]] void tooFew(const std::string& message) {
  throw tk_MulticameraCalibrationDefs::TooFewCorrespondences(
      std::wstring(message.begin(), message.end()));
}

// One camera's list of one placement: the caller's points and the copy the solve receives.
struct View {
  bool zRotation = true;
  std::size_t placement = 0;
  std::size_t camera = 0;
  const tkMulticameraWeightedList* given = nullptr;
  tkMulticameraWeightedList* working = nullptr;
  std::size_t points = 0;             // with a positive given weight
  std::vector<tkVector<2>> residual;  // normalised residual √w·d of the last solve
  std::vector<double> squaredPixels;  // |d|² of the last solve
};

// Inlier flags of every view (point-wise) and which views are dropped.
struct InlierSet {
  std::vector<std::vector<char>> inlier;
  std::vector<char> dropped;
  bool operator==(const InlierSet& o) const { return inlier == o.inlier && dropped == o.dropped; }
};

std::string viewName(const View& v) {
  return std::string(v.zRotation ? "Z-rotation" : "arbitrary") + " placement " +
         std::to_string(v.placement) + ", camera " + std::to_string(v.camera);
}

void checkOptions(const tkOutlierRejectionOptions& o) {
  if (!(o.rejectSigmas > 0.0) || !std::isfinite(o.triggerSigmas) ||
      o.rejectSigmas > o.triggerSigmas)
    invalid("outlier rejection: thresholds must satisfy 0 < rejectSigmas <= triggerSigmas < inf");
  if (o.maxRounds < 1)
    invalid("outlier rejection: maxRounds must be at least 1");
}

void checkShape(const Params& rig, std::size_t nC, std::size_t nZ, std::size_t nA) {
  if (rig.cameraPoseInverses().size() != nC ||
      rig.physicalAtZEquals1FromImageParams().size() != nC ||
      rig.calibrationPlatePoses().size() != nZ || rig.arbitraryCalibrationPlatePoses().size() != nA)
    throw tk_MulticameraCalibrationDefs::BadParams(
        L"outlier rejection: the solve returned no rig of the placements' shape");
}

// Residuals of every point with a positive weight under the rig.
void computeResiduals(const Params& rig, std::vector<View>& views) {
  for (View& v : views) {
    const tkXform<3> plateToWorld = v.zRotation
                                        ? rig.calibrationPlatePoses()[v.placement].xform()
                                        : rig.arbitraryCalibrationPlatePoses()[v.placement].xform();
    for (std::size_t i = 0; i < v.given->size(); ++i) {
      const tkCrspPairWeighted& k = (*v.given)[i];
      if (!(k.weight() > 0.0))
        continue;
      const tkVector<2> d = k.image() - rig.invWarpPoint(plateToWorld.mapPoint(k.physical3D()),
                                                         static_cast<long>(v.camera));
      v.residual[i] = d * std::sqrt(k.weight());
      v.squaredPixels[i] = d.dot(d);
    }
  }
}

// σ per coordinate of the inliers' normalised residuals; BadParams when one is not finite.
double sigmaOf(const std::vector<View>& views, const InlierSet& set) {
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t v = 0; v < views.size(); ++v)
    for (std::size_t i = 0; i < set.inlier[v].size(); ++i)
      if (set.inlier[v][i] != 0) {
        const tkVector<2>& r = views[v].residual[i];
        if (!std::isfinite(r.x()) || !std::isfinite(r.y()))
          throw tk_MulticameraCalibrationDefs::BadParams(
              L"outlier rejection: the solved rig does not project an inlier to a finite point");
        sum += r.dot(r);
        ++count;
      }
  return count > 0 ? std::sqrt(sum / (2.0 * static_cast<double>(count))) : 0.0;
}

bool within(const tkVector<2>& r, double limit) {
  return std::fabs(r.x()) <= limit && std::fabs(r.y()) <= limit;
}

InlierSet nextSet(const std::vector<View>& views, const InlierSet& current, double sigma,
                  const tkOutlierRejectionOptions& o) {
  bool trigger = false;
  for (std::size_t v = 0; v < views.size() && !trigger; ++v)
    for (std::size_t i = 0; i < current.inlier[v].size() && !trigger; ++i)
      trigger = current.inlier[v][i] != 0 && !within(views[v].residual[i], o.triggerSigmas * sigma);
  InlierSet next = current;
  for (std::size_t v = 0; v < views.size(); ++v) {
    const View& view = views[v];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < view.given->size(); ++i) {
      if (!((*view.given)[i].weight() > 0.0))
        continue;
      const bool fits = within(view.residual[i], o.rejectSigmas * sigma);
      // Points of a dropped view are candidates as any other: the view returns when enough fit.
      next.inlier[v][i] = trigger ? fits : (current.inlier[v][i] != 0 || fits);
      kept += next.inlier[v][i] != 0;
    }
    next.dropped[v] = kept < view.points && kept < o.minInliersPerView;
    if (next.dropped[v] != 0)
      std::fill(next.inlier[v].begin(), next.inlier[v].end(), 0);
  }
  return next;
}

// TooFewCorrespondences when a camera that had points keeps no inlier.
void checkCameras(const std::vector<View>& views, const InlierSet& set, std::size_t nC) {
  std::vector<std::size_t> points(nC, 0), inliers(nC, 0);
  for (std::size_t v = 0; v < views.size(); ++v) {
    points[views[v].camera] += views[v].points;
    inliers[views[v].camera] +=
        static_cast<std::size_t>(std::count(set.inlier[v].begin(), set.inlier[v].end(), 1));
  }
  for (std::size_t c = 0; c < nC; ++c)
    if (points[c] > 0 && inliers[c] == 0)
      tooFew("outlier rejection left camera " + std::to_string(c) + " without an inlier");
}

void applyWeights(std::vector<View>& views, const InlierSet& set) {
  for (std::size_t v = 0; v < views.size(); ++v)
    for (std::size_t i = 0; i < views[v].given->size(); ++i)
      (*views[v].working)[i].weight(set.inlier[v][i] != 0 ? (*views[v].given)[i].weight() : 0.0);
}

void fillResult(const std::vector<View>& views, const InlierSet& set, std::size_t nC,
                std::size_t nZ, std::size_t nA, tkOutlierRejectionResult& result) {
  result.zRotationInliers.assign(nZ, std::vector<std::vector<bool>>(nC));
  result.arbitraryInliers.assign(nA, std::vector<std::vector<bool>>(nC));
  result.zRotationViews.assign(nZ, std::vector<tkOutlierRejectionView>(nC));
  result.arbitraryViews.assign(nA, std::vector<tkOutlierRejectionView>(nC));
  std::vector<double> inSum(nC, 0.0), inWeight(nC, 0.0), allSum(nC, 0.0), allWeight(nC, 0.0);
  result.rejected = 0;
  for (std::size_t v = 0; v < views.size(); ++v) {
    const View& view = views[v];
    auto& mask = (view.zRotation ? result.zRotationInliers
                                 : result.arbitraryInliers)[view.placement][view.camera];
    auto& counts = (view.zRotation ? result.zRotationViews
                                   : result.arbitraryViews)[view.placement][view.camera];
    mask.assign(set.inlier[v].begin(), set.inlier[v].end());
    counts.points = view.points;
    counts.dropped = set.dropped[v] != 0;
    for (std::size_t i = 0; i < view.given->size(); ++i) {
      const double w = (*view.given)[i].weight();
      if (!(w > 0.0))
        continue;
      allSum[view.camera] += w * view.squaredPixels[i];
      allWeight[view.camera] += w;
      if (mask[i]) {
        ++counts.inliers;
        inSum[view.camera] += w * view.squaredPixels[i];
        inWeight[view.camera] += w;
      }
    }
    result.rejected += counts.points - counts.inliers;
  }
  const auto rms = [](double sum, double weight) {
    return weight > 0.0 ? std::sqrt(sum / weight) : 0.0;
  };
  double inTotal = 0.0, inWeights = 0.0, allTotal = 0.0, allWeights = 0.0;
  for (std::size_t c = 0; c < nC; ++c) {
    result.inlierRms.push_back(rms(inSum[c], inWeight[c]));
    result.allRms.push_back(rms(allSum[c], allWeight[c]));
    inTotal += inSum[c], inWeights += inWeight[c];
    allTotal += allSum[c], allWeights += allWeight[c];
  }
  result.inlierRmsPooled = rms(inTotal, inWeights);
  result.allRmsPooled = rms(allTotal, allWeights);
}

}  // namespace
}  // namespace ccal::detail

tkRigSolve tfRigCalibrationSolve(tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
                                 const tkImageRefinementOptions& refinement) {
  return [distModel, refinement](
             const tkMulticameraZRotationPlacementsWeighted& z,
             const tkMulticameraArbitraryPlacementsWeighted& a,
             tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result) {
    tfCalibrateMultiplateMulticameraZRotationAndArbitrary(distModel, z, a, refinement, result);
  };
}

tkRigSolve tfRigPoseSolve(const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
                          const tkImageRefinementOptions& refinement) {
  return [intrinsics, refinement](
             const tkMulticameraZRotationPlacementsWeighted& z,
             const tkMulticameraArbitraryPlacementsWeighted& a,
             tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& result) {
    tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, z, a, refinement, result);
  };
}

tkOutlierRejectionResult tfRejectOutliers(
    const tkRigSolve& solve, const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkOutlierRejectionOptions& options) {
  using namespace ccal::detail;
  checkOptions(options);
  if (!solve)
    invalid("outlier rejection: no solve");
  const std::size_t nZ = zRotationPlacements.size(), nA = arbitraryPlacements.size();
  const std::size_t nC =
      nZ > 0 ? zRotationPlacements[0].first.size() : (nA > 0 ? arbitraryPlacements[0].size() : 0);
  tkMulticameraZRotationPlacementsWeighted zWorking = zRotationPlacements;
  tkMulticameraArbitraryPlacementsWeighted aWorking = arbitraryPlacements;

  std::vector<View> views;
  const auto addViews = [&](bool zRotation, std::size_t j,
                            const std::vector<tkMulticameraWeightedList>& given,
                            std::vector<tkMulticameraWeightedList>& working) {
    if (given.size() != nC)
      invalid("outlier rejection: placements must hold one list per camera");
    for (std::size_t c = 0; c < nC; ++c) {
      View v;
      v.zRotation = zRotation, v.placement = j, v.camera = c;
      v.given = &given[c], v.working = &working[c];
      for (const tkCrspPairWeighted& k : given[c]) {
        if (!std::isfinite(k.weight()) || k.weight() < 0.0)
          invalid("outlier rejection: " + viewName(v) + ": weights must be finite and >= 0");
        v.points += k.weight() > 0.0;
      }
      v.residual.assign(given[c].size(), tkVector<2>(0.0, 0.0));
      v.squaredPixels.assign(given[c].size(), 0.0);
      views.push_back(std::move(v));
    }
  };
  for (std::size_t j = 0; j < nZ; ++j)
    addViews(true, j, zRotationPlacements[j].first, zWorking[j].first);
  for (std::size_t j = 0; j < nA; ++j)
    addViews(false, j, arbitraryPlacements[j], aWorking[j]);

  InlierSet current;
  std::size_t positive = 0;
  for (const View& v : views) {
    current.inlier.emplace_back();
    for (const tkCrspPairWeighted& k : *v.given)
      current.inlier.back().push_back(k.weight() > 0.0);
    positive += v.points;
  }
  current.dropped.assign(views.size(), 0);
  if (positive == 0)
    tooFew("outlier rejection: no point has a positive weight");

  tkOutlierRejectionResult result;
  solve(zWorking, aWorking, result.rig);
  checkShape(result.rig, nC, nZ, nA);
  for (;;) {
    computeResiduals(result.rig, views);
    result.sigma = sigmaOf(views, current);
    const InlierSet next = nextSet(views, current, result.sigma, options);
    checkCameras(views, next, nC);
    if (next == current)
      break;
    if (result.rounds == options.maxRounds) {
      result.capped = true;
      break;
    }
    current = next;
    applyWeights(views, current);
    solve(zWorking, aWorking, result.rig);
    checkShape(result.rig, nC, nZ, nA);
    ++result.rounds;
  }
  fillResult(views, current, nC, nZ, nA, result);
  return result;
}
