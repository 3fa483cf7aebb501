// A residual block: one batch of observations (for the calibration problems, the correspondences
// of one camera in one placement) whose residuals depend on a few parameter blocks of a
// ParameterLayout, in the manner of Ceres' CostFunction. One virtual call evaluates the whole
// batch, never one per point.
//
// Each parameter block the residuals depend on also says whether the gradient of this block's
// cost feeds that parameter block's rows of F (the gradient column the solvers drive to zero).
// The calibration costs are mixed: the rows of a camera's intrinsics come from one residual kind,
// those of the poses from another, so a residual kind may depend on a block without feeding it,
// or feed only some values of a block (feedValues). A block whose residuals are not those of
// the merit (the gradient terms of such a mixed cost) stays out of the cost (countsInCost).
// A block may also stack several residual kinds of the same observations, each a consecutive
// range of rows with its own feeds and cost flag (rowGroups), so that what they share (the
// camera point, its derivatives) is computed once.
#ifndef CCAL_PROBLEM_RESIDUAL_BLOCK_H
#define CCAL_PROBLEM_RESIDUAL_BLOCK_H

#include <cstddef>
#include <vector>

namespace ccal::detail {

class ResidualBlock {
 public:
  // residualCount rows (m); parameterBlocks: indices b of ParameterLayout blocks, distinct;
  // feeds: one flag per parameter block; weights: m row weights w >= 0 (an observation with two
  // residual rows repeats its weight on both); feedValues: empty, or one list per parameter
  // block, empty (every value of a fed block) or one flag per value of the block: the values
  // whose rows of F and K this block feeds. Throws tkInvariantFailure when the list sizes
  // disagree, a block index repeats or a weight is negative or not finite.
  ResidualBlock(long residualCount, std::vector<long> parameterBlocks, std::vector<bool> feeds,
                std::vector<double> weights, std::vector<std::vector<bool>> feedValues = {});
  virtual ~ResidualBlock() = default;
  ResidualBlock(const ResidualBlock&) = default;
  ResidualBlock& operator=(const ResidualBlock&) = default;

  // One residual kind of a stacked block: rows consecutive rows, the parameter blocks and values
  // they feed (feeds and feedValues as in the constructor) and whether they count in the cost.
  struct RowGroup {
    long rows = 0;
    std::vector<bool> feeds;
    std::vector<std::vector<bool>> feedValues;
    bool countsInCost = true;
  };

  long residualCount() const { return residualCount_; }
  const std::vector<long>& parameterBlocks() const { return parameterBlocks_; }
  bool feeds(std::size_t k) const { return feeds_[k]; }
  const std::vector<double>& weights() const { return weights_; }
  // Whether value a of parameter block k is fed (by some row group; false where the block is
  // not fed).
  bool feedsValue(std::size_t k, long a) const;
  bool feedsAnything() const;
  // Restricts the rows of parameter block k this block feeds to the values whose mask entry is
  // true (one entry per value of the block; an empty mask feeds all). Call it before the block
  // is added to an assembler. Throws tkInvariantFailure for k outside the parameter blocks.
  void feedValues(std::size_t k, std::vector<bool> mask);
  // Whether the assembled cost includes this block's residuals (default true): the gradient
  // terms of a mixed cost feed F and K but are not the merit.
  void countsInCost(bool counts) { countsInCost_ = counts; }
  bool countsInCost() const { return countsInCost_; }
  // Splits the rows into consecutive groups (in row order) that replace the block-wide feeds,
  // value masks and cost flag; the Jacobian rows of a group that feeds nothing need not be
  // written by Evaluate. Call it before the block is added to an assembler. Throws
  // tkInvariantFailure when the rows do not add up to residualCount or a group's lists have the
  // wrong sizes.
  void rowGroups(std::vector<RowGroup> groups);
  // The groups; one (every row, the block-wide settings) unless rowGroups split them.
  std::vector<RowGroup> rowGroups() const;

  // parameters[k]: the values of parameter block k (as many as the layout's block size).
  // Writes the m residuals and, for every k with jacobians[k] not null, ∂r/∂x_k as an
  // m x size_k row-major matrix. jacobians itself may be null (residuals only). Returns false
  // when the residuals cannot be evaluated at these parameters (the outputs are then
  // unspecified). Must not allocate: it runs once per block on every evaluation.
  virtual bool Evaluate(const double* const* parameters, double* residuals,
                        double** jacobians) const = 0;

 private:
  long residualCount_;
  std::vector<long> parameterBlocks_;
  std::vector<bool> feeds_;
  std::vector<double> weights_;
  std::vector<std::vector<bool>> feedValues_;
  bool countsInCost_ = true;
  std::vector<RowGroup> groups_;  // empty: one group of the block-wide settings
};

}  // namespace ccal::detail

#endif
