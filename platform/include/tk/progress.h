// Progress reporting and work estimates.
//
// An application opens a tkProgressScope on the thread that runs a computation; the computation
// divides its work into nested tkProgressTrackerBlock objects and reports what it has done with
// reportWork. The scope turns those reports into the overall fraction done, a number in [0, 1]
// that never decreases, and hands it to the application's sink.
//
// How blocks partition the range [0, 1]:
// - The scope itself is the outermost range: [0, 1], worth one unit.
// - A block has a weight W, its total work in its own units. When it is opened it takes the
//   next share of its parent (the innermost block still open on the thread, or the scope): the
//   share is `shareOfParent` units of the parent (one unit by default), starting where the
//   parent's work stands, and never more than what remains of the parent.
// - reportWork(u) adds u units to the block (at most up to W); the overall fraction is then the
//   start of the block's range plus the part done: start + span·done/W.
// - When a block closes, its range counts as done and its parent advances by the block's share.
// So a loop over n items opens one block of weight n and, per item, a nested block (share 1)
// that reports in its own units; a top-level block covers the whole range.
//
// Estimate-only mode (scope opened with estimateOnly true): computations that support it report
// the work they would do and return without computing. doEstimateOnly() tells them; the scope
// sums every unit reported (reportedWork()), which is the estimate. The flag is also visible to
// procedural code through cstd_progressGetThreadDoEstimateOnly (<proc/cstd_progress.h>).
//
// Without a scope on the thread every block is inert: reportWork does nothing and doEstimateOnly()
// is false. Blocks and scopes are objects of one thread; keep them on the stack.
#ifndef TK_PROGRESS_H
#define TK_PROGRESS_H

#include <tk/export.h>

#include <cstdint>
#include <functional>

class tkProgressTrackerBlock;

// Installs progress reporting on the calling thread for its lifetime; nested scopes hide the outer
// one until they end (the outer sink receives nothing meanwhile).
class TK_API tkProgressScope {
 public:
  // sink receives the overall fraction done after each report and each block that closes; it
  // may be empty (nothing is forwarded, e.g. estimate-only mode without reporting). Exceptions
  // the sink throws pass out of reportWork; those thrown while a block closes are dropped.
  tkProgressScope(std::function<void(double fraction)> sink, bool estimateOnly);
  ~tkProgressScope();
  tkProgressScope(const tkProgressScope&) = delete;
  tkProgressScope& operator=(const tkProgressScope&) = delete;

  bool doEstimateOnly() const { return estimateOnly_; }
  // The overall fraction done so far, in [0, 1].
  double fraction() const { return fraction_; }
  // The sum of all units reported through blocks of this scope (positive finite reports only).
  // In estimate-only mode this is the estimate of the work.
  double reportedWork() const { return reportedWork_; }

 private:
  friend class tkProgressTrackerBlock;
  void advanceTo(double fraction, bool mayThrow);

  std::function<void(double)> sink_;
  bool estimateOnly_;
  int32_t previousEstimateOnly_;
  tkProgressScope* previous_;
  tkProgressTrackerBlock* innermost_ = nullptr;
  double rootDone_ = 0.0;  // units of the scope's single unit taken by closed top-level blocks
  double fraction_ = 0.0;
  double reportedWork_ = 0.0;
};

// One part of the work; see the header comment for how blocks share the range.
class TK_API tkProgressTrackerBlock {
 public:
  // A block of weight units taking one unit of its parent. A weight that is not positive and
  // finite makes a block whose reports move nothing (they still count in reportedWork()).
  explicit tkProgressTrackerBlock(double weight);
  // The same, taking shareOfParent units of its parent (clamped to what the parent has left;
  // a share that is not positive takes nothing).
  tkProgressTrackerBlock(double weight, double shareOfParent);
  // Closes the block (its range counts as done) and advances its parent.
  ~tkProgressTrackerBlock();
  tkProgressTrackerBlock(const tkProgressTrackerBlock&) = delete;
  tkProgressTrackerBlock& operator=(const tkProgressTrackerBlock&) = delete;

  // Adds units of work done to this block and forwards the overall fraction to the sink.
  // Units that are not positive and finite are ignored. May throw what the sink throws.
  void reportWork(double units);
  // True when the scope this block belongs to asks only for an estimate of the work.
  bool doEstimateOnly() const;

 private:
  friend class tkProgressScope;
  double position() const;

  tkProgressScope* scope_;
  tkProgressTrackerBlock* parent_ = nullptr;
  double weight_ = 0.0;
  double done_ = 0.0;
  double start_ = 0.0;  // overall fraction where the block's range begins
  double span_ = 0.0;   // width of the block's range
  double share_ = 0.0;  // units of the parent this block takes
};

#endif
