// Internal: the damped Newton system (K + diag(d)) δ = −F of a solver with m == n whose declared
// tkJacobianStructure is block-arrowhead in K itself: the row groups are the parameter blocks,
// and the rows of an eliminated block b are reached only by b and by shared (not eliminated)
// blocks. Typical: F the gradient of a sum of squares over observations that each involve one
// camera (shared) and one plate placement (eliminated).
//
// With A_b = K_bb + D_b, B_b = K_bS, C_b = K_Sb the step is found by eliminating every local
// block (an LU factor each, with partial pivoting, so K need not be symmetric):
//   (K_SS + D_S − Σ_b C_b A_b⁻¹ B_b) δ_S = −F_S + Σ_b C_b A_b⁻¹ F_b,   δ_b = −A_b⁻¹ (F_b + B_b
//   δ_S).
// The cost is about Σ_b n_b s² + s³ flops: linear in the number of eliminated blocks. The result
// equals the dense LU solution up to rounding.
//
// All workspace is allocated by the constructor; solve() allocates nothing.
#ifndef TK_CORE_BLOCK_NEWTON_SYSTEM_H
#define TK_CORE_BLOCK_NEWTON_SYSTEM_H

#include <tk/jacobian_structure.h>

#include <vector>

class tk_BlockNewtonSystem {
 public:
  // True when the structure has the shape described above (and at least one eliminated block).
  static bool applies(const tkJacobianStructure& structure);

  // Precondition: applies(structure).
  explicit tk_BlockNewtonSystem(const tkJacobianStructure& structure);

  // Solves (K + diag(damping)) step = −f, K n x n column-major. Returns false when a factor meets
  // an exactly zero or non-finite pivot or the step is not finite.
  bool solve(const double* k, const double* f, const double* damping, double* step);

 private:
  struct Local {
    long start = 0;
    long size = 0;
  };
  long n_ = 0;
  std::vector<long> shared_;  // indices of the shared parameters (s)
  std::vector<Local> locals_;
  std::vector<double> a_;           // one local block's A_b and its factor, largest n_b squared
  std::vector<int> pivots_;         // of A_b, then of the reduced matrix
  std::vector<double> x_;           // every A_b⁻¹ [B_b | F_b], n_b x (s + 1) each
  std::vector<double> reduced_;     // s x s
  std::vector<double> reducedRhs_;  // s
};

#endif
