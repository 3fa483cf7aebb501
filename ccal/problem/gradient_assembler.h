// Assembles, from the residual blocks of a problem at x, in one pass over the blocks:
//   F    = 2·Σ J_bᵀ·W·r          rows of parameter block b from the residual blocks that feed b;
//   K    = 2·Σ J_bᵀ·W·J          the Gauss-Newton Jacobian of F: rows of block b from the residual
//                                 blocks feeding b, columns over every block they depend on;
//   cost = Σ w·|r|²              over every residual block that counts in the cost (feeding or
//                                 not; ResidualBlock::countsInCost).
// A residual block with value masks (ResidualBlock::feedValues) feeds only those rows; a block
// of stacked row groups (ResidualBlock::rowGroups) sums over each group with its own feeds and
// cost flag.
// K is exactly ∂F/∂x where the residuals vanish and every residual block feeds every block it
// depends on; with mixed feeding it is the Gauss-Newton form of the mixed gradient.
//
// K is an n x n tkNMMatrix (n = layout size, column-major). The first call (or one with a matrix
// of another shape) resizes and zero-fills it; every call then writes only the declared blocks
// (declaredStructure()) and leaves the other entries as they are. The structured solve of
// tkFSolver reads every camera-placement block of the arrowhead, declared or not, so those entries
// must stay 0: callers never write outside the declared blocks. After the first call at a given
// shape no call allocates.
// Not thread-safe (one work space); residual blocks and layout are not owned and must outlive
// the assembler.
#ifndef CCAL_PROBLEM_GRADIENT_ASSEMBLER_H
#define CCAL_PROBLEM_GRADIENT_ASSEMBLER_H

#include "ccal/problem/parameter_layout.h"
#include "ccal/problem/residual_block.h"

#include <tk/jacobian_structure.h>
#include <tk/nm_matrix.h>

#include <memory>
#include <utility>
#include <vector>

namespace ccal::detail {

// Doubles of a work space whose growth leaves them undefined: the Jacobian buffers, which every
// evaluation writes before it reads them, are not zeroed for each new problem.
class WorkBuffer {
 public:
  std::size_t size() const { return size_; }
  void grow(std::size_t size) {
    if (size > size_) {
      data_.reset(new double[size]);
      size_ = size;
    }
  }
  double* data() { return data_.get(); }
  const double* data() const { return data_.get(); }

 private:
  std::unique_ptr<double[]> data_;
  std::size_t size_ = 0;
};

class GradientAssembler {
 public:
  explicit GradientAssembler(const ParameterLayout& layout) : layout_(&layout) {}

  // Adds a residual block (not owned). Throws tkInvariantFailure for a parameter block index
  // outside the layout's blocks.
  void add(const ResidualBlock& block);

  // The block structure of K as the solvers declare it: row group = parameter block b, coupled
  // with every block some residual block feeding b depends on; every block with itself;
  // placement blocks eliminated.
  tkJacobianStructure declaredStructure() const;

  // F into f when not null (layout size values, overwritten), K into k when not null, the
  // weighted cost into cost when not null, over the residual blocks flagged in active (one flag
  // per added block, in the order of add; null: every block). Jacobians are evaluated only for
  // F or K and only of blocks that feed something. Returns false (outputs unspecified) when a
  // residual block's Evaluate fails.
  bool assemble(const double* x, double* f, tkNMMatrix* k, double* cost,
                const std::vector<bool>* active = nullptr);

  // K's and F's sums run in the wide code where it runs (wide_kernels.h).

  // Copies the declared blocks of K from one n x n matrix into another (resized and zero-filled
  // first when its shape differs): a K kept from an earlier assemble at the same x.
  void copyDeclared(const tkNMMatrix& from, tkNMMatrix& to) const;

 private:
  const ParameterLayout* layout_;
  std::vector<const ResidualBlock*> blocks_;
  // One row group of an added block: its rows, cost flag, and per parameter block the fed
  // values as runs (first value, count) of consecutive ones.
  struct Group {
    long begin = 0;
    long rows = 0;
    bool countsInCost = true;
    bool feeds = false;
    std::vector<std::vector<std::pair<long, long>>> runs;
    std::vector<long> fedValues;  // the fed values among the block's columns (0 .. total)
    std::vector<long> fedRows;    // their rows of K
  };
  // Adds the K rows of one feeding row group (its Jacobians evaluated) to kData.
  void accumulate(std::size_t b, const Group& group, const double* w, double* kData);
  std::vector<std::vector<Group>> groups_;       // [block]
  std::vector<std::vector<long>> offsets_;       // [block]: first of each parameter block's values
  std::vector<std::vector<long>> columns_;       // [block]: the K column of each of its values
  std::vector<std::pair<long, long>> declared_;  // (row block, column block), distinct
  // Work space: residuals, per parameter block slot a Jacobian buffer, one row group's rows of a
  // block's Jacobian over all its values (blocks of several parameter blocks) and the fed x
  // values accumulator of K.
  std::vector<double> residuals_;
  std::vector<double> weightedResiduals_;  // 2W·r of one row group (F alone)
  std::vector<WorkBuffer> jacobians_;
  WorkBuffer gathered_;
  std::vector<double> accumulator_;
  std::vector<double*> jacobianPointers_;
  std::vector<const double*> parameterPointers_;
};

}  // namespace ccal::detail

#endif
