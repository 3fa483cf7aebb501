#include "ccal/problem/residual_block.h"

#include <tk/exception.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ccal::detail {

ResidualBlock::ResidualBlock(long residualCount, std::vector<long> parameterBlocks,
                             std::vector<bool> feeds, std::vector<double> weights,
                             std::vector<std::vector<bool>> feedValues)
    : residualCount_(residualCount),
      parameterBlocks_(std::move(parameterBlocks)),
      feeds_(std::move(feeds)),
      weights_(std::move(weights)),
      feedValues_(std::move(feedValues)) {
  if (residualCount_ < 0 || weights_.size() != static_cast<std::size_t>(residualCount_))
    throw tkInvariantFailure(L"ResidualBlock: weights.size() != residualCount");
  if (feeds_.size() != parameterBlocks_.size())
    throw tkInvariantFailure(L"ResidualBlock: feeds.size() != parameterBlocks.size()");
  for (std::size_t k = 0; k < parameterBlocks_.size(); ++k)
    if (std::count(parameterBlocks_.begin(), parameterBlocks_.end(), parameterBlocks_[k]) != 1)
      throw tkInvariantFailure(L"ResidualBlock: a parameter block listed twice");
  if (!feedValues_.empty() && feedValues_.size() != parameterBlocks_.size())
    throw tkInvariantFailure(L"ResidualBlock: feedValues.size() != parameterBlocks.size()");
  for (double w : weights_)
    if (!(std::isfinite(w) && w >= 0.0))
      throw tkInvariantFailure(L"ResidualBlock: a weight that is negative or not finite");
}

void ResidualBlock::feedValues(std::size_t k, std::vector<bool> mask) {
  if (k >= parameterBlocks_.size())
    throw tkInvariantFailure(L"ResidualBlock::feedValues: no such parameter block");
  if (feedValues_.empty())
    feedValues_.resize(parameterBlocks_.size());
  feedValues_[k] = std::move(mask);
}

bool ResidualBlock::feedsAnything() const {
  return std::find(feeds_.begin(), feeds_.end(), true) != feeds_.end();
}

}  // namespace ccal::detail
