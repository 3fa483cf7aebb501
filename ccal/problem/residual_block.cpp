#include "ccal/problem/residual_block.h"

#include <tk/exception.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ccal::detail {

namespace {

bool fedBy(const std::vector<bool>& feeds, const std::vector<std::vector<bool>>& feedValues,
           std::size_t k, long a) {
  if (!feeds[k])
    return false;
  if (feedValues.empty() || feedValues[k].empty())
    return true;
  const std::size_t i = static_cast<std::size_t>(a);
  return i < feedValues[k].size() && feedValues[k][i];
}

}  // namespace

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

bool ResidualBlock::feedsValue(std::size_t k, long a) const {
  if (groups_.empty())
    return fedBy(feeds_, feedValues_, k, a);
  for (const RowGroup& group : groups_)
    if (fedBy(group.feeds, group.feedValues, k, a))
      return true;
  return false;
}

bool ResidualBlock::feedsAnything() const {
  return std::find(feeds_.begin(), feeds_.end(), true) != feeds_.end();
}

void ResidualBlock::rowGroups(std::vector<RowGroup> groups) {
  long rows = 0;
  std::vector<bool> feeds(parameterBlocks_.size(), false);
  for (const RowGroup& group : groups) {
    if (group.rows < 0 || group.feeds.size() != parameterBlocks_.size() ||
        (!group.feedValues.empty() && group.feedValues.size() != parameterBlocks_.size()))
      throw tkInvariantFailure(L"ResidualBlock::rowGroups: a group of the wrong shape");
    rows += group.rows;
    for (std::size_t k = 0; k < feeds.size(); ++k)
      feeds[k] = feeds[k] || group.feeds[k];
  }
  if (rows != residualCount_)
    throw tkInvariantFailure(L"ResidualBlock::rowGroups: the rows do not add up");
  feeds_ = std::move(feeds);  // feeds(k), feedsAnything(): over all groups
  feedValues_.clear();
  groups_ = std::move(groups);
}

std::vector<ResidualBlock::RowGroup> ResidualBlock::rowGroups() const {
  if (!groups_.empty())
    return groups_;
  RowGroup all;
  all.rows = residualCount_;
  all.feeds = feeds_;
  all.feedValues = feedValues_;
  all.countsInCost = countsInCost_;
  return {all};
}

}  // namespace ccal::detail
