#include <ccal/single_camera_calibration.h>

#include "ccal/single/camera_projection.h"
#include "ccal/single/camera_refinement.h"
#include "ccal/single/plate_based_estimate.h"

#include <ccal/camera_calibration_coarse.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/exception.h>
#include <tk/progress.h>
#include <tk/quaternion_xform.h>
#include <tk/random_uniform.h>
#include <tk/statistics.h>

#include "platform/core/invalid_argument.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;
using PlateViews = std::vector<std::vector<tkCrspPairWeighted>>;

namespace {

// Throws tkMathError::Singular when the physical points of positive weight lie on one plane (or
// a line, or one point): the closed-form estimate would then return a meaningless camera. The
// test is the determinant of their scatter against the cube of its mean eigenvalue.
void requireVolume(const Correspondences& correspondences) {
  double n = 0.0;
  tkVector<3> sum;
  for (const auto& c : correspondences)
    if (c.second > 0.0) {
      sum += c.first.second;
      n += 1.0;
    }
  if (n == 0.0)
    return;  // empty lists fail later with their own message
  const tkVector<3> mean = sum / n;
  double s[3][3] = {};
  for (const auto& c : correspondences)
    if (c.second > 0.0) {
      const tkVector<3> d = c.first.second - mean;
      for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
          s[r][k] += d[r] * d[k];
    }
  const double det = s[0][0] * (s[1][1] * s[2][2] - s[1][2] * s[2][1]) -
                     s[0][1] * (s[1][0] * s[2][2] - s[1][2] * s[2][0]) +
                     s[0][2] * (s[1][0] * s[2][1] - s[1][1] * s[2][0]);
  const double meanEigenvalue = (s[0][0] + s[1][1] + s[2][2]) / 3.0;
  if (!(det > 1e-12 * meanEigenvalue * meanEigenvalue * meanEigenvalue))
    throw tkMathError::Singular();
}

// True once an abort was requested on the calling thread (the request stays until the caller
// resets the token, so every later check sees it too).
bool abortRequested() {
  return csys_attention_check() < 0;
}

constexpr std::size_t kSampleSize = 333;
constexpr long kSearchIterations = 50;
// Weighted RMS image error, in the refinement's normalised image frame (image coordinates of
// order 1; about 1e-9 px for a frame 3σ of 1,000 px), at which a search refinement has fitted
// exact data to their rounding: the steps after it only stir rounding (the final refinement
// has no floor).
constexpr double kSearchFloorRms = 1e-12;
constexpr long kFinalIterations = 300;
// Under eRadial a search candidate's refinement ends at an accepted step that lowers its image
// cost by no more than 1 %. The candidates started with a lens value of the wrong sign otherwise
// creep through all their iterations at about 0.4 % per accepted step, with every other trial
// rejected (their mixed F is not the cost's gradient there), and end far behind the winner; the
// candidates of the right sign fall by orders of magnitude per step until they sit at their
// minimum. Under eSineTan the candidates that win creep too, along the nearly redundant lens
// values, so their refinements keep the solver's own rule.
constexpr double kRadialSearchFlatMerit = 1e-2;

// At most kSampleSize correspondences: the whole list in its order when it is not longer, else
// kSampleSize entries moved to the front by exchanges with indices drawn from a generator seeded
// with 1.
Correspondences sampleSubset(const Correspondences& correspondences) {
  Correspondences subset = correspondences;
  if (subset.size() <= kSampleSize)
    return subset;
  tkRandomUniform random(1);
  const double n = static_cast<double>(correspondences.size());
  for (std::size_t i = 0; i < kSampleSize; ++i) {
    const std::size_t j = static_cast<std::size_t>(static_cast<int>(random.next(0.0, n)));
    std::swap(subset[i], subset[j]);
  }
  subset.resize(kSampleSize);
  return subset;
}

tkCameraCalibrationParams withIntrinsic(const tkPhysicalAtZEquals1FromImageParams& intrinsic,
                                        const tk3QuaternionXform& pose) {
  tkCameraCalibrationParams params;
  params.physicalAtZEquals1FromImageParams(intrinsic);
  params.cameraPoseInverse(pose);
  return params;
}

// The distortion-start search: short refinements on the subset from the coarse pose with
// growing trial lens values. Returns the best candidate and its RMS (HUGE_VAL when the first
// refinement, of coarse itself, stayed the best).
tkCameraCalibrationParams searchDistortionStart(Model model, const Correspondences& subset,
                                                const tkCameraCalibrationParams& coarse,
                                                double& bestErr) {
  bestErr = HUGE_VAL;
  if (abortRequested())
    return coarse;
  const double err0 = tfWeightedRmsError(coarse, subset);
  const double flatMerit = model == tk2XformCalib2Defs::eRadial
                               ? kRadialSearchFlatMerit
                               : tk3DCalibrationDistortionSolver::kFlatMerit;
  tkCameraCalibrationParams best =
      tfRefineCameraCalibration(subset, coarse, kSearchIterations, flatMerit, kSearchFloorRms);

  const tkPhysicalAtZEquals1FromImageParams& base = coarse.physicalAtZEquals1FromImageParams();
  // 2e-7 times the geometric mean of the focal lengths in pixels: √(area of the unit square
  // mapped back through L).
  const double step0 =
      2e-7 * std::sqrt(1.0 / std::fabs(base.cameraScale().first * base.cameraScale().second));
  double maxStep = 20000.0 * step0;
  if (model == tk2XformCalib2Defs::eSineTan)
    maxStep = std::max(maxStep, 1.0);
  double step = step0;
  while (step <= maxStep) {
    bool allBad = true;
    for (const double sign : {-1.0, 1.0}) {
      // An abort request ends every later refinement at its start: leave with what there is.
      if (abortRequested())
        return best;
      tkPhysicalAtZEquals1FromImageParams trial = base;
      if (model == tk2XformCalib2Defs::eRadial)
        trial.k(sign * step);
      else
        trial.lensDistParams({sign * step, 1.0, sign * step, 1.0});
      const tkCameraCalibrationParams candidate =
          tfRefineCameraCalibration(subset, withIntrinsic(trial, coarse.cameraPoseInverse()),
                                    kSearchIterations, flatMerit, kSearchFloorRms);
      const double err = tfWeightedRmsError(candidate, subset);
      if (err <= 2.0 * err0)
        allBad = false;
      else if (model == tk2XformCalib2Defs::eRadial)
        break;
      if (err < bestErr) {
        bestErr = err;
        best = candidate;
        const double first = candidate.physicalAtZEquals1FromImageParams().lensDistParams()[0];
        if (first > 4.0 * step)
          step = first / 4.0;
      }
    }
    if (model == tk2XformCalib2Defs::eRadial && allBad)
      break;
    step *= std::sqrt(1.4);
  }
  return best;
}

// The staged calibration on data in the scaled physical frame. Returns false (result untouched)
// in estimate-only mode.
// Abort: the request is checked before every stage (and between the trials of the search). Once
// it is seen no further stage runs, since each would only stop at its start: the driver leaves
// with the best model it has - or, with plate views, throws tkAttention::Aborted as the planar
// calibration would at once. Before the closed-form estimate there is no model yet, and the
// call throws tkAttention::Aborted.
bool stagedCalibration(Model model, const Correspondences& correspondences,
                       const PlateViews& plateViews, const std::vector<tkXform<3>>& platePoses,
                       tkCameraCalibrationParams& result) {
  tkProgressTrackerBlock progress(1.0);
  if (progress.doEstimateOnly()) {
    progress.reportWork(100.0 * std::log(10000.0) / std::log(std::sqrt(1.4)));
    return false;
  }
  const auto leaveWith = [&](const tkCameraCalibrationParams& reached) {
    if (!plateViews.empty())
      tkAttention::check();
    result = reached;
    return true;
  };

  tkAttention::check();
  std::vector<std::pair<tkVector<2>, tkVector<3>>> unweighted;
  unweighted.reserve(correspondences.size());
  for (const auto& c : correspondences)
    unweighted.push_back(c.first);
  tkCameraCalibrationParams coarse;
  tfCameraCalibrationParamsCoarse(model, unweighted, coarse);
  if (abortRequested())
    return leaveWith(coarse);

  if (model == tk2XformCalib2Defs::eNoDistortion) {
    result = tfRefineCameraCalibration(correspondences, coarse, kFinalIterations);
    return true;
  }

  const Correspondences subset = sampleSubset(correspondences);
  double bestErr = HUGE_VAL;
  tkCameraCalibrationParams best = searchDistortionStart(model, subset, coarse, bestErr);
  if (abortRequested())
    return leaveWith(best);

  if (!plateViews.empty()) {
    const tkCameraCalibrationParams alternative =
        tfPlateBasedCameraEstimate(model, plateViews, platePoses);
    if (tfWeightedRmsError(alternative, subset) < bestErr)
      best = alternative;
    if (abortRequested())
      return leaveWith(best);
  }

  result = tfRefineCameraCalibration(correspondences, best, kFinalIterations);
  return true;
}

}  // namespace

void tfComputeCalibrationSingleCamera_internal(Model model, const Correspondences& correspondences,
                                               const PlateViews& plateViews,
                                               const std::vector<tkXform<3>>& platePoses,
                                               tkCameraCalibrationParams& result) {
  tfCheckWeightedCorrespondences(correspondences, "tfComputeCalibrationSingleCamera_internal");
  if (!plateViews.empty() && platePoses.size() != plateViews.size())
    tk_throwInvalidArgument(
        "tfComputeCalibrationSingleCamera_internal: platePoses.size() != plateViews.size()");
  requireVolume(correspondences);

  // 1. Physical scale: the X and Y coordinates of all points together get the spread
  //    15/√12·√n (n values), whatever the caller's unit.
  tkStatistics coordinates;
  for (const auto& c : correspondences) {
    coordinates.add(c.first.second.x());
    coordinates.add(c.first.second.y());
  }
  double f = 1.0;
  const double sigma = coordinates.stdDev();
  if (coordinates.count() > 2 && sigma > 0.0)
    f = (std::sqrt(static_cast<double>(coordinates.count())) / sigma) * (15.0 / std::sqrt(12.0));

  // 2. Scaled copies.
  Correspondences scaled = correspondences;
  for (auto& c : scaled)
    c.first.second = c.first.second * f;
  PlateViews scaledViews = plateViews;
  for (auto& view : scaledViews)
    for (tkCrspPairWeighted& pair : view)
      pair.physical3D(pair.physical3D() * f);
  std::vector<tkXform<3>> scaledPoses = platePoses;
  for (tkXform<3>& pose : scaledPoses)
    pose.trans(pose.trans() * f);

  // 3.-4. Calibrate, then back to the caller's unit.
  tkCameraCalibrationParams calibrated;
  if (!stagedCalibration(model, scaled, scaledViews, scaledPoses, calibrated))
    return;
  calibrated.cameraPoseInverse(tk3QuaternionXform(
      calibrated.cameraPoseInverse().quat(), calibrated.cameraPoseInverse().trans() * (1.0 / f)));
  result = calibrated;
}
