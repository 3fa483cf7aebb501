// Running statistics of a stream of values: count, (weighted) mean, population variance and
// deviation, minimum and maximum, accumulated in one pass by Welford's update (weighted form)
// applied to the values less the first one, so that rounding scales with the spread of the
// values rather than with their magnitude.
//
// With no values added: count() == 0, mean(), variance() and stdDev() are 0, min() is +inf and
// max() is −inf.
#ifndef TK_STATISTICS_H
#define TK_STATISTICS_H

#include <tk/export.h>

#include <limits>

class TK_API tkStatistics {
 public:
  tkStatistics() = default;

  // Adds x with weight 1. Throws tkInvariantFailure when x is not finite.
  void add(double x);
  // Adds x with weight w. A value of weight 0 is ignored (not counted, not in min/max). Throws
  // tkInvariantFailure when x or w is not finite or w < 0.
  void add(double x, double w);
  // Back to the empty state.
  void clear() { *this = tkStatistics(); }

  // Number of values added with a positive weight.
  long count() const { return count_; }
  // Sum of the weights (count() when every value had weight 1).
  double totalWeight() const { return weight_; }
  // Σ w·x / Σ w.
  double mean() const { return shift_ + shiftedMean_; }
  // Population variance Σ w·(x − mean)² / Σ w.
  double variance() const;
  // sqrt(variance()).
  double stdDev() const;
  double min() const { return min_; }
  double max() const { return max_; }

 private:
  long count_ = 0;
  double weight_ = 0.0;
  double shift_ = 0.0;
  double shiftedMean_ = 0.0;
  double sumSquaredDeviation_ = 0.0;
  double min_ = std::numeric_limits<double>::infinity();
  double max_ = -std::numeric_limits<double>::infinity();
};

#endif
