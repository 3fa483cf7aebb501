#include <tk/progress.h>

#include <proc/cstd_assert.h>
#include <proc/cstd_progress.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

thread_local tkProgressScope* currentScope = nullptr;

bool positiveFinite(double value) {
  return value > 0.0 && std::isfinite(value);
}

}  // namespace

tkProgressScope::tkProgressScope(std::function<void(double fraction)> sink, bool estimateOnly)
    : sink_(std::move(sink)),
      estimateOnly_(estimateOnly),
      previousEstimateOnly_(cstd_progressSetThreadDoEstimateOnly(estimateOnly ? 1 : 0)),
      previous_(currentScope) {
  currentScope = this;
}

tkProgressScope::~tkProgressScope() {
  // Blocks that outlive their scope (a misuse) become inert instead of touching a dead scope.
  for (tkProgressTrackerBlock* block = innermost_; block != nullptr; block = block->parent_) {
    block->scope_ = nullptr;
  }
  CSTD_ASSERT(currentScope == this);
  currentScope = previous_;
  cstd_progressSetThreadDoEstimateOnly(previousEstimateOnly_);
}

void tkProgressScope::advanceTo(double fraction, bool mayThrow) {
  fraction_ = std::max(fraction_, std::min(1.0, std::max(0.0, fraction)));
  if (!sink_)
    return;
  if (mayThrow) {
    sink_(fraction_);
    return;
  }
  try {
    sink_(fraction_);
  } catch (...) {
    // Called from a destructor: there is no way to pass the exception on.
  }
}

tkProgressTrackerBlock::tkProgressTrackerBlock(double weight)
    : tkProgressTrackerBlock(weight, 1.0) {}

tkProgressTrackerBlock::tkProgressTrackerBlock(double weight, double shareOfParent)
    : scope_(currentScope) {
  if (scope_ == nullptr)
    return;
  parent_ = scope_->innermost_;
  // The parent's state, the scope standing for a block of one unit over [0, 1].
  double parentWeight = 1.0;
  double parentDone = scope_->rootDone_;
  double parentStart = 0.0;
  double parentSpan = 1.0;
  if (parent_ != nullptr) {
    parentWeight = parent_->weight_;
    parentDone = parent_->done_;
    parentStart = parent_->start_;
    parentSpan = parent_->span_;
  }
  weight_ = positiveFinite(weight) ? weight : 0.0;
  if (parentWeight > 0.0) {
    share_ =
        positiveFinite(shareOfParent) ? std::min(shareOfParent, parentWeight - parentDone) : 0.0;
    start_ = parentStart + parentSpan * (parentDone / parentWeight);
    span_ = parentSpan * (share_ / parentWeight);
  } else {
    start_ = parentStart;
  }
  scope_->innermost_ = this;
}

tkProgressTrackerBlock::~tkProgressTrackerBlock() {
  if (scope_ == nullptr)
    return;
  CSTD_ASSERT(scope_->innermost_ == this);
  scope_->innermost_ = parent_;
  if (parent_ != nullptr) {
    parent_->done_ = std::min(parent_->weight_, parent_->done_ + share_);
  } else {
    scope_->rootDone_ = std::min(1.0, scope_->rootDone_ + share_);
  }
  scope_->advanceTo(start_ + span_, false);
}

double tkProgressTrackerBlock::position() const {
  return weight_ > 0.0 ? start_ + span_ * (done_ / weight_) : start_;
}

void tkProgressTrackerBlock::reportWork(double units) {
  if (scope_ == nullptr || !positiveFinite(units))
    return;
  scope_->reportedWork_ += units;
  done_ = std::min(weight_, done_ + units);
  scope_->advanceTo(position(), true);
}

bool tkProgressTrackerBlock::doEstimateOnly() const {
  return scope_ != nullptr && scope_->estimateOnly_;
}
