#include <tk/exception.h>
#include <tk/line_fit.h>

#include "invalid_argument.h"

#include <cfloat>
#include <cmath>

namespace {
// Principal moments closer than this, relative to their sum, leave the direction undefined.
constexpr double kIsotropicTolerance = 64.0 * DBL_EPSILON;

// Fit with weight(i) giving the weight of point i; the caller has validated weights.
template <typename WeightOf>
tkLineFitResult fitLine(const std::vector<tkVector<2>>& points, WeightOf weight) {
  for (const tkVector<2>& p : points)
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
      tk_throwInvalidArgument("tfLineFit: point coordinate is not finite");

  // Two passes: the centroid, then the scatter about it (accurate far from the origin).
  double totalWeight = 0.0;
  tkVector<2> weightedSum;
  long first = -1, last = -1;
  for (size_t i = 0; i < points.size(); ++i) {
    const double w = weight(i);
    if (w == 0.0)
      continue;
    if (first < 0)
      first = static_cast<long>(i);
    last = static_cast<long>(i);
    totalWeight += w;
    weightedSum += points[i] * w;
  }
  if (!(totalWeight > 0.0))
    throw tkMathError::Singular();
  // Copies of one point: the rounding of the centroid would otherwise fake a direction.
  bool distinct = false;
  for (size_t i = static_cast<size_t>(first) + 1; i <= static_cast<size_t>(last) && !distinct; ++i)
    distinct = weight(i) != 0.0 && points[i] != points[first];
  if (!distinct)
    throw tkMathError::Singular();
  const tkVector<2> centroid = weightedSum / totalWeight;

  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (size_t i = 0; i < points.size(); ++i) {
    const double w = weight(i);
    const tkVector<2> d = points[i] - centroid;
    sxx += w * d.x() * d.x();
    sxy += w * d.x() * d.y();
    syy += w * d.y() * d.y();
  }
  // Eigenvalues of [[sxx, sxy], [sxy, syy]] are (sum ± spread) / 2.
  const double sum = sxx + syy;
  const double spread = std::hypot(sxx - syy, 2.0 * sxy);
  if (!(spread > kIsotropicTolerance * sum))
    throw tkMathError::Singular();

  const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
  tkVector<2> direction(std::cos(angle), std::sin(angle));
  const double alongFirstToLast = direction.dot(points[last] - points[first]);
  if (alongFirstToLast < 0.0 ||
      (alongFirstToLast == 0.0 &&
       (direction.x() < 0.0 || (direction.x() == 0.0 && direction.y() < 0.0))))
    direction = -direction;

  const tkVector<2> normal(-direction.y(), direction.x());
  double weightedSquares = 0.0;
  for (size_t i = 0; i < points.size(); ++i) {
    const double distance = normal.dot(points[i] - centroid);
    weightedSquares += weight(i) * distance * distance;
  }
  tkLineFitResult result;
  result.point = centroid;
  result.direction = direction;
  result.rms = std::sqrt(weightedSquares / totalWeight);
  return result;
}
}  // namespace

tkLineFitResult tfLineFit(const std::vector<tkVector<2>>& points) {
  return fitLine(points, [](size_t) { return 1.0; });
}

tkLineFitResult tfLineFit(const std::vector<tkVector<2>>& points,
                          const std::vector<double>& weights) {
  if (weights.size() != points.size())
    tk_throwInvalidArgument("tfLineFit: one weight per point is required");
  for (double w : weights)
    if (!std::isfinite(w) || w < 0.0)
      tk_throwInvalidArgument("tfLineFit: weights must be finite and >= 0");
  return fitLine(points, [&weights](size_t i) { return weights[i]; });
}
