// Internal: the Householder QR of a tall matrix with few columns (the weighted rows of a
// least-squares step: hundreds or thousands of rows, up to a few tens of columns) and the
// application of Qᵀ to vectors.
//
// The factor is Eigen's HouseholderQR's, in its layout: R in the upper triangle, below the
// diagonal the essential parts of the reflectors H_k = I − τ_k·v_k·v_kᵀ (v_k's entry k is 1),
// Q = H_0·H_1·…. It is written out with the loops over the rows in lanes of four, and compiled a
// second time as wide code (platform-independent results up to rounding; wide_kernels.h): for so
// few columns Eigen's unblocked factorisation and its reflectors on a vector go through general
// block products at several times the cost.
#ifndef CCAL_PROBLEM_TALL_QR_H
#define CCAL_PROBLEM_TALL_QR_H

#include <Eigen/Core>

namespace ccal::detail {

class TallQR {
 public:
  // Factors a in place (min(rows, columns) reflectors; with fewer rows than columns R is the
  // upper trapezoid of its rows); a must outlive the uses below and stay unchanged.
  void compute(Eigen::MatrixXd& a);
  // v = Qᵀ·v for a column of the factored matrix's rows.
  void applyQt(double* v) const;
  // The factored matrix: R in its upper triangle.
  const Eigen::MatrixXd& matrixQR() const { return *a_; }

 private:
  Eigen::MatrixXd* a_ = nullptr;
  Eigen::VectorXd tau_;
};

}  // namespace ccal::detail

#endif
