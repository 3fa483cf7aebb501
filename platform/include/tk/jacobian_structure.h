// Block sparsity of a solver's Jacobian, declared by the solver so that the framework can skip
// the blocks that cannot be non-zero and solve the damped step by elimination instead of a dense
// factorisation (tkFSolver::jacobianStructure, docs/solver-framework.md).
//
// The n parameters are split into consecutive parameter blocks and the m function values into
// consecutive row groups. couple(b, g) declares that the columns of parameter block b may be
// non-zero in the rows of group g; every pair not declared is taken to be exactly zero, in the
// Jacobian and therefore in JᵀJ. eliminate(b) marks parameter block b as local: the structured
// solve removes it by a Schur complement. The parameters of blocks not eliminated form the
// shared part.
//
// How rows are used (derived from the declaration):
// - a row group reached by exactly one eliminated block is that block's own: its rows contribute
//   to the block, to its coupling with the shared part and to the shared part;
// - a row group reached by two or more eliminated blocks is a coupling group: its rows enter the
//   solve as a low-rank term (see docs/solver-framework.md);
// - a row group reached by no eliminated block contributes to the shared part only.
// The solve costs about Σ_b b_b (s + c)² + (s + c)³ flops per damping, with s the number of
// shared parameters and c the number of coupling rows: linear in the number of eliminated
// blocks, worthwhile when s + c is small against n.
//
// A typical problem: a rig of cameras (shared blocks) that observe many plate placements
// (eliminated blocks). With F a residual column, each observation row depends on one camera and
// one placement (no coupling groups); with F the gradient of a sum of squares (m == n, groups
// equal to the parameter blocks), the rows of the camera gradients are the coupling groups.
#ifndef TK_JACOBIAN_STRUCTURE_H
#define TK_JACOBIAN_STRUCTURE_H

#include <tk/export.h>

#include <cstddef>
#include <vector>

class TK_API tkJacobianStructure {
 public:
  // No structure (empty()): the dense path.
  tkJacobianStructure() = default;
  // n parameters and m function values; parameterStarts and rowStarts are the first indices
  // of the parameter blocks and row groups: strictly increasing, starting at 0, below n
  // (resp. m). No coupling and no elimination yet. Throws tkInvariantFailure otherwise.
  tkJacobianStructure(long n, long m, const std::vector<long>& parameterStarts,
                      const std::vector<long>& rowStarts);

  // Declares that the columns of parameter block `block` may be non-zero in row group `group`
  // (declaring a pair twice is harmless). Throws tkInvariantFailure for an index out of range.
  void couple(long block, long group);
  // Marks parameter block `block` as local (eliminated by the structured solve). Throws
  // tkInvariantFailure for an index out of range.
  void eliminate(long block);

  bool empty() const { return n_ == 0; }
  long parameters() const { return n_; }
  long functionValues() const { return m_; }
  long parameterBlocks() const { return static_cast<long>(parameterStarts_.size()); }
  long rowGroups() const { return static_cast<long>(rowStarts_.size()); }
  // First index and size of parameter block b / row group g (precondition: in range).
  long parameterStart(long b) const { return parameterStarts_[static_cast<std::size_t>(b)]; }
  long parameterCount(long b) const;
  long rowStart(long g) const { return rowStarts_[static_cast<std::size_t>(g)]; }
  long rowCount(long g) const;
  // The row groups parameter block b reaches, ascending (precondition: b in range).
  const std::vector<long>& groupsOf(long b) const { return groups_[static_cast<std::size_t>(b)]; }
  bool eliminated(long b) const { return eliminated_[static_cast<std::size_t>(b)]; }
  // The parameter block holding parameter i (precondition: 0 <= i < n).
  long blockOfParameter(long i) const;

 private:
  long n_ = 0;
  long m_ = 0;
  std::vector<long> parameterStarts_;
  std::vector<long> rowStarts_;
  std::vector<std::vector<long>> groups_;
  std::vector<bool> eliminated_;
};

#endif
