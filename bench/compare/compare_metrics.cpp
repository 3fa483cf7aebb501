#include "compare_metrics.h"

#include <algorithm>
#include <cmath>

void tkResidualStats::add(const tkVector<2>& observed, const tkVector<2>& projected) {
  const double d = (observed - projected).length();
  sumSquares += d * d;
  largest = std::isfinite(d) ? std::max(largest, d) : d;
  ++count;
}

void tkResidualStats::add(const tkResidualStats& other) {
  sumSquares += other.sumSquares;
  largest = std::isfinite(other.largest) ? std::max(largest, other.largest) : other.largest;
  count += other.count;
}

double tkResidualStats::rms() const {
  if (count == 0)
    return std::numeric_limits<double>::quiet_NaN();
  return std::sqrt(sumSquares / static_cast<double>(count));
}

tkIntrinsicProjection tfProjectionOf(const tkPhysicalAtZEquals1FromImageParams& intrinsic) {
  return [intrinsic](const std::vector<tkVector<2>>& positions) {
    std::vector<tkVector<2>> out;
    out.reserve(positions.size());
    for (const tkVector<2>& q : positions)
      out.push_back(intrinsic.invWarpPoint(q));
    return out;
  };
}

tkIntrinsicErrors tfIntrinsicErrors(const tkIntrinsicProjection& estimate,
                                    const tkPhysicalAtZEquals1FromImageParams& truth, double width,
                                    double height) {
  const double h = 1e-5;
  const std::vector<tkVector<2>> axisStencil = {tkVector<2>(0.0, 0.0), tkVector<2>(h, 0.0),
                                                tkVector<2>(-h, 0.0), tkVector<2>(0.0, h),
                                                tkVector<2>(0.0, -h)};
  const std::vector<tkVector<2>> e = estimate(axisStencil);
  const std::vector<tkVector<2>> t = tfProjectionOf(truth)(axisStencil);
  tkIntrinsicErrors errors;
  const double fxE = (e[1].x() - e[2].x()) / (2 * h), fyE = (e[3].y() - e[4].y()) / (2 * h);
  const double fxT = (t[1].x() - t[2].x()) / (2 * h), fyT = (t[3].y() - t[4].y()) / (2 * h);
  errors.focalRel =
      std::max(std::fabs(fxE - fxT) / std::fabs(fxT), std::fabs(fyE - fyT) / std::fabs(fyT));
  errors.axisPx = (e[0] - t[0]).length();

  std::vector<tkVector<2>> pixels, rays;
  for (int j = 0; j < 20; ++j)
    for (int i = 0; i < 25; ++i) {
      const tkVector<2> p(width * (0.02 + 0.96 * i / 24.0), height * (0.02 + 0.96 * j / 19.0));
      try {
        rays.push_back(truth.warpPoint(p));
        pixels.push_back(p);
      } catch (...) {
        // A pixel that no ray of the true lens reaches carries no error.
      }
    }
  const std::vector<tkVector<2>> mapped = estimate(rays);
  tkResidualStats map;
  for (std::size_t k = 0; k < pixels.size(); ++k)
    map.add(pixels[k], mapped[k]);
  errors.mapRmsPx = map.rms();
  return errors;
}

tkRelativePoseErrors tfRelativePoseErrors(const tkXform<3>& estimate0, const tkXform<3>& estimateC,
                                          const tkXform<3>& truth0, const tkXform<3>& truthC) {
  const tkXform<3> est = estimateC * estimate0.inverse();
  const tkXform<3> tru = truthC * truth0.inverse();
  const tkMatrix<3> d = est.matrix() * tru.inverse().matrix();
  const double trace = d.element(0, 0) + d.element(1, 1) + d.element(2, 2);
  tkRelativePoseErrors errors;
  errors.rotationMrad = 1000.0 * std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0));
  errors.translationPct = 100.0 * (est.trans() - tru.trans()).length() / tru.trans().length();
  return errors;
}

double tfMedian(std::vector<double> values) {
  if (values.empty())
    return std::numeric_limits<double>::quiet_NaN();
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}
