// Internal: the damped normal equations (JᵀJ + diag(d)) δ = g of a solver that declared a
// tkJacobianStructure, formed from the declared blocks of J only and solved by eliminating the
// local parameter blocks (docs/solver-framework.md, "Structured solve").
//
// With K the part of JᵀJ from every row outside the coupling groups (block-arrowhead: the local
// blocks couple only with the shared part) and U the coupling rows of J, JᵀJ = K + UᵀU. The
// step solves the equivalent system
//   [K + D   Uᵀ] [δ]   [g]
//   [U      −I ] [z] = [0]
// by a Schur complement on the local blocks (a Cholesky factor each), which leaves a system in
// the shared parameters and z; z is eliminated through the Cholesky factor of
// I + Σ U_b (K_bb + D_b)⁻¹ U_bᵀ, and the shared parameters through that of the final Schur
// complement, which equals the Schur complement of JᵀJ + D on the local blocks. Mathematically
// the result is the dense solution; it differs from it by rounding only.
//
// All workspace is allocated by the constructor; form() and solve() allocate nothing.
#ifndef TK_CORE_BLOCK_NORMAL_EQUATIONS_H
#define TK_CORE_BLOCK_NORMAL_EQUATIONS_H

#include <tk/jacobian_structure.h>

#include <vector>

class tk_BlockNormalEquations {
 public:
  // Precondition: structure is not empty. The structure is copied.
  explicit tk_BlockNormalEquations(const tkJacobianStructure& structure);

  // Forms the blocks from J (m x n column-major; entries outside the declared blocks are not
  // read) and F (m values): rhs = −JᵀF and diagonal = diag(JᵀJ) (n values each).
  void form(const double* jacobian, const double* f, double* rhs, double* diagonal);
  // Solves (JᵀJ + diag(damping)) step = rhs with the J of the last form(). Returns false when a
  // factor meets a pivot not above 1e-14 of its diagonal entry (the matrix is not numerically
  // positive definite) or the step is not finite.
  bool solve(const double* damping, const double* rhs, double* step);

  const tkJacobianStructure& structure() const { return structure_; }

 private:
  struct Local {
    long start = 0;             // first parameter
    long size = 0;              // b
    std::vector<long> rows;     // own rows
    std::size_t offsetW = 0;    // W_b = [K_bS, U_bᵀ], b x (s + c)
    std::size_t offsetK = 0;    // K_bb, b x b, then its factor
    std::size_t offsetRhs = 0;  // b values
  };

  tkJacobianStructure structure_;
  long m_ = 0;
  long n_ = 0;
  std::vector<long> shared_;        // indices of the shared parameters (s)
  std::vector<long> couplingRows_;  // rows of the coupling groups (c)
  std::vector<long> sharedRows_;    // rows reached by no local block
  std::vector<Local> locals_;
  // Row indices each column may be non-zero in (for −JᵀF and diag(JᵀJ)).
  std::vector<long> columnRowStart_;  // n + 1 offsets into columnRows_
  std::vector<long> columnRows_;

  std::vector<double> w_;        // every W_b
  std::vector<double> y_;        // every (K_bb + D_b)⁻¹ W_b
  std::vector<double> kLocal_;   // every K_bb
  std::vector<double> factor_;   // every Cholesky factor of K_bb + D_b
  std::vector<double> local_;    // every (K_bb + D_b)⁻¹ g_b
  std::vector<double> kShared_;  // K_SS, s x s
  std::vector<double> uShared_;  // U_S, c x s
  std::vector<double> reduced_;  // the reduced matrix, (s + c) x (s + c)
  std::vector<double> reducedRhs_;
  std::vector<double> solution_;  // (δ_S, z)
  std::vector<double> zx_;        // L_T⁻¹ X, c x s
  std::vector<double> gather_;    // rows of J gathered for one block
};

#endif
