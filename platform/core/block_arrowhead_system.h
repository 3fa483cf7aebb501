// Internal: the damped step of a solver that declared a tkJacobianStructure, solved by
// eliminating the local (eliminated) parameter blocks. One elimination serves both systems the
// minimiser solves (docs/solver-framework.md, "Structured solve"):
//
// - kNormalEquations: (JᵀJ + diag(d)) δ = −JᵀF, J m x n. With K the part of JᵀJ from every row
//   outside the coupling groups (block-arrowhead: the local blocks couple only with the shared
//   part) and U the coupling rows of J, JᵀJ = K + UᵀU, and the step solves
//     [K + D   Uᵀ] [δ]   [g]
//     [U      −I ] [z] = [0].
//   Local blocks are factored by Cholesky; z is eliminated through the Cholesky factor of
//   I + Σ U_b (K_bb + D_b)⁻¹ U_bᵀ and the shared parameters through that of the final Schur
//   complement. A pivot not above 1e-14 of its diagonal entry (not numerically positive
//   definite) fails the solve.
// - kNewtonSystem: (K + diag(d)) δ = −F with K = J itself (m == n), when the structure is
//   block-arrowhead in K (newtonSystemApplies). Local blocks and the reduced system are factored
//   by LU with partial pivoting, so K need not be symmetric; an exactly zero or non-finite pivot
//   fails the solve.
//
// In both, with A_b = K_bb + D_b, W_b = [K_bS, U_bᵀ] and C_b = [K_Sb; U_b]:
//   R = [K_SS + D_S, U_Sᵀ; U_S, −I] − Σ_b C_b A_b⁻¹ W_b,  r = [g_S; 0] − Σ_b C_b A_b⁻¹ g_b,
//   R (δ_S, z) = r,  δ_b = A_b⁻¹ (g_b − W_b (δ_S, z)).
// The cost is about Σ_b n_b (s + c)² + (s + c)³ flops per damping (s shared parameters, c coupling
// rows): linear in the number of eliminated blocks. The step equals the dense one up to rounding.
//
// All workspace is allocated by the constructor; form() and solve() allocate nothing.
#ifndef TK_CORE_BLOCK_ARROWHEAD_SYSTEM_H
#define TK_CORE_BLOCK_ARROWHEAD_SYSTEM_H

#include <tk/jacobian_structure.h>

#include <vector>

namespace ccal::detail {

class BlockArrowheadSystem {
 public:
  enum class Kind { kNormalEquations, kNewtonSystem };

  // True when the structure is block-arrowhead in K itself: m == n, the row groups are the
  // parameter blocks, no eliminated block reaches another eliminated block's rows, and at least
  // one block is eliminated.
  static bool newtonSystemApplies(const tkJacobianStructure& structure);

  // Precondition: structure not empty; for kNewtonSystem, newtonSystemApplies(structure).
  BlockArrowheadSystem(const tkJacobianStructure& structure, Kind kind);

  // Reads the declared blocks of the m x n column-major matrix (J, or K for kNewtonSystem) and
  // F (m values). Writes rhs (n values: −JᵀF, resp. −F) and diagonal (diag(JᵀJ), resp. diag K).
  void form(const double* matrix, const double* f, double* rhs, double* diagonal);
  // Solves the system of the last form() with diag(damping) added, into step (n values).
  // False when a factorisation fails (see above) or the step is not finite.
  bool solve(const double* damping, const double* rhs, double* step);

  Kind kind() const { return kind_; }

 private:
  struct Local {
    long start = 0;             // first parameter
    long size = 0;              // n_b
    std::vector<long> rows;     // own rows (kNormalEquations)
    std::size_t offsetW = 0;    // W_b, n_b x t; then A_b⁻¹ W_b
    std::size_t offsetC = 0;    // C_b, s x n_b (kNewtonSystem)
    std::size_t offsetK = 0;    // K_bb, n_b x n_b
    std::size_t offsetRhs = 0;  // n_b values: A_b⁻¹ g_b
  };

  bool symmetric() const { return kind_ == Kind::kNormalEquations; }
  void formNormalEquations(const double* jacobian, const double* f, double* rhs, double* diagonal);
  void formNewtonSystem(const double* k, const double* f, double* rhs, double* diagonal);
  bool solveReduced();

  Kind kind_;
  long m_ = 0;
  long n_ = 0;
  std::vector<long> shared_;        // indices of the shared parameters (s)
  std::vector<long> couplingRows_;  // rows of the coupling groups (c; kNormalEquations only)
  std::vector<long> sharedRows_;    // rows reached by no local block
  std::vector<Local> locals_;
  // Row indices each column may be non-zero in (for −JᵀF and diag(JᵀJ)).
  std::vector<long> columnRowStart_;  // n + 1 offsets into columnRows_
  std::vector<long> columnRows_;

  std::vector<double> w_;        // every W_b
  std::vector<double> y_;        // every A_b⁻¹ W_b
  std::vector<double> c_;        // every C_b (kNewtonSystem)
  std::vector<double> kLocal_;   // every K_bb
  std::vector<double> factor_;   // the factor of one A_b
  std::vector<int> pivots_;      // LU pivots of one A_b, then of R
  std::vector<double> local_;    // every A_b⁻¹ g_b
  std::vector<double> kShared_;  // K_SS, s x s
  std::vector<double> uShared_;  // U_S, c x s
  std::vector<double> reduced_;  // R, t x t
  std::vector<double> reducedRhs_;
  std::vector<double> solution_;  // (δ_S, z)
  std::vector<double> zx_;        // L_T⁻¹ U_S, c x s
  std::vector<double> gather_;    // rows of J gathered for one block
};

}  // namespace ccal::detail

#endif
