#include <tk/statistics.h>

#include "invalid_argument.h"

#include <algorithm>
#include <cmath>

void tkStatistics::add(double x) {
  add(x, 1.0);
}

void tkStatistics::add(double x, double w) {
  if (!std::isfinite(x))
    tk_throwInvalidArgument("tkStatistics::add: value is not finite");
  if (!std::isfinite(w) || w < 0.0)
    tk_throwInvalidArgument("tkStatistics::add: weight must be finite and >= 0");
  if (w == 0.0)
    return;
  if (count_ == 0)
    shift_ = x;
  ++count_;
  weight_ += w;
  // Welford on the values less the first one: rounding then scales with the spread of the
  // values, not with their magnitude.
  const double y = x - shift_;
  const double deviationFromOldMean = y - shiftedMean_;
  shiftedMean_ += deviationFromOldMean * (w / weight_);
  sumSquaredDeviation_ += w * deviationFromOldMean * (y - shiftedMean_);
  min_ = std::min(min_, x);
  max_ = std::max(max_, x);
}

double tkStatistics::variance() const {
  if (count_ == 0)
    return 0.0;
  return std::max(0.0, sumSquaredDeviation_ / weight_);
}

double tkStatistics::stdDev() const {
  return std::sqrt(variance());
}
