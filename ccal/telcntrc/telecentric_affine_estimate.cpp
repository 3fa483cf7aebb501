#include "ccal/telcntrc/telecentric_affine_estimate.h"

#include <ccal/telecentric_extrinsics_errors.h>
#include <proc/cstd_assert.h>
#include <tk/attention.h>
#include <tk/nm_matrix.h>
#include <tk/statistics.h>

#include <algorithm>
#include <cmath>

namespace {

// Condition number beyond which the normal system of the affine fit counts as singular.
constexpr double kConditionThreshold = 1e12;

// Abort requests are polled before every 128th point.
constexpr std::size_t kAttentionInterval = 128;

// The length the fit works on: all three lists are expected to be equally long.
std::size_t commonLength(const std::vector<tkVector<3>>& points, const std::vector<double>& weights,
                         const std::vector<double>& targets) {
  CSTD_ASSERT(points.size() == weights.size() && points.size() == targets.size());
  return std::min({points.size(), weights.size(), targets.size()});
}

}  // namespace

void checkTelecentricArguments(const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
                               const std::vector<tkXform<3>>& poses) {
  if (poses.size() < 2)
    throw tk_TelecentricCalibrationDefs::BadParams(L"poses.size() < 2");
  if (poses.size() != correspondences.size())
    throw tk_TelecentricCalibrationDefs::BadParams(L"poses.size() != correspondences.size()");
}

void estimateTelecentricXform(const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
                              const std::vector<tkXform<3>>& poses, tkXform<3>& estimate) {
  checkTelecentricArguments(correspondences, poses);

  std::size_t total = 0;
  for (const auto& list : correspondences)
    total += list.size();
  std::vector<tkVector<3>> homePoints;
  std::vector<double> weights, u, v;
  homePoints.reserve(total);
  weights.reserve(total);
  u.reserve(total);
  v.reserve(total);
  for (std::size_t i = 0; i < poses.size(); ++i) {
    for (const tkCrspPairWeighted& pair : correspondences[i]) {
      const double weight = pair.weight();
      if (!(weight >= 0.0) || !std::isfinite(weight))
        throw tk_TelecentricCalibrationDefs::BadParams(L"weight < 0 || !std::isfinite(weight)");
      homePoints.push_back(poses[i].mapPoint(pair.physical3D()));
      weights.push_back(weight);
      u.push_back(pair.image().x());
      v.push_back(pair.image().y());
    }
  }

  std::vector<double> a, b;
  fitTelecentricImageCoordinate(homePoints, weights, u, a);
  fitTelecentricImageCoordinate(homePoints, weights, v, b);
  CSTD_ASSERT(a.size() == 4 && b.size() == 4);
  a.resize(4, 0.0);
  b.resize(4, 0.0);

  const tkXform<3> result(tkMatrix<3>(a[0], a[1], a[2], b[0], b[1], b[2], 0.0, 0.0, 1.0),
                          tkVector<3>(a[3], b[3], 0.0));
  tkAttention::check();
  estimate = result;
}

void fitTelecentricImageCoordinate(const std::vector<tkVector<3>>& points,
                                   const std::vector<double>& weights,
                                   const std::vector<double>& targets,
                                   std::vector<double>& coefficients) {
  const std::size_t count = commonLength(points, weights, targets);

  // One scale for all three coordinates, from the spread of x and y.
  tkStatistics spread;
  for (std::size_t k = 0; k < count; ++k) {
    spread.add(points[k].x());
    spread.add(points[k].y());
  }
  double scale = 1.0;
  const double n = static_cast<double>(spread.count());
  if (spread.count() > 2 && spread.stdDev() > 0.0)
    scale = std::sqrt(n) / spread.stdDev();

  std::vector<tkVector<3>> scaled(count);
  for (std::size_t k = 0; k < count; ++k)
    scaled[k] = points[k] * scale;

  std::vector<double> scaledCoefficients;
  solveWeightedAffineFit(scaled, weights, targets, scaledCoefficients);
  coefficients = {scaledCoefficients[0] * scale, scaledCoefficients[1] * scale,
                  scaledCoefficients[2] * scale, scaledCoefficients[3]};
}

void solveWeightedAffineFit(const std::vector<tkVector<3>>& points,
                            const std::vector<double>& weights, const std::vector<double>& targets,
                            std::vector<double>& coefficients) {
  const std::size_t count = commonLength(points, weights, targets);
  coefficients.clear();

  // The ten distinct sums of the symmetric normal matrix and the four of the right-hand side,
  // accumulated in one pass.
  double sxx = 0, sxy = 0, sxz = 0, sx = 0, syy = 0, syz = 0, sy = 0, szz = 0, sz = 0, s1 = 0;
  double tx = 0, ty = 0, tz = 0, t1 = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (k % kAttentionInterval == 0)
      tkAttention::check();
    const double x = points[k].x(), y = points[k].y(), z = points[k].z();
    const double w = weights[k];
    const double wt = w * targets[k];
    sxx += w * x * x;
    sxy += w * x * y;
    sxz += w * x * z;
    sx += w * x;
    syy += w * y * y;
    syz += w * y * z;
    sy += w * y;
    szz += w * z * z;
    sz += w * z;
    s1 += w;
    tx += wt * x;
    ty += wt * y;
    tz += wt * z;
    t1 += wt;
  }

  tkNMMatrix normal(4, 4);
  const double rows[4][4] = {
      {sxx, sxy, sxz, sx}, {sxy, syy, syz, sy}, {sxz, syz, szz, sz}, {sx, sy, sz, s1}};
  for (long r = 0; r < 4; ++r)
    for (long c = 0; c < 4; ++c)
      normal(r, c) = rows[r][c];
  tkNMMatrix rhs(1, 4);
  rhs(0, 0) = tx;
  rhs(0, 1) = ty;
  rhs(0, 2) = tz;
  rhs(0, 3) = t1;

  double condition = 0.0;
  const tkNMMatrix solution = tkNMMatrix::solve(normal, rhs, true, condition, kConditionThreshold);
  coefficients = {solution(0, 0), solution(0, 1), solution(0, 2), solution(0, 3)};
}
