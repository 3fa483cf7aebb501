// The covariance of the parameters of an image-residual problem at its solution x:
//   Cov = σ²·(JᵀWJ)⁻¹,  J the Jacobian of the residuals π(P) − p, W the point weights,
// from the rows √w·J of ImageResidualProblem. σ² is the caller's, or estimated as
//   σ² = Σ w·|r|² / (2N − k)
// with N the points of non-zero weight and k the rank (the determined parameters): the residual
// variance per coordinate.
//
// Gauge: placement 0 is the world frame and has no parameters, so the world frame adds no free
// direction; under eSineTan the lens value p0 of every camera is held (image_residual_problem.h),
// so its rows and columns of Cov are 0, and the deviations of the values that the shared scale
// moves (L, p0, p2) are those with that scale fixed.
//
// Rank: the columns of √W·J are scaled to unit length and reduced placement by placement, never
// forming J whole nor the normal equations (which would square the condition): each placement's
// rows [J_p J_c] (with the cameras that saw it) by a Householder QR to its leading triangle R_pp,
// its coupling R_pc and trailing rows, which, stacked over the placements and reduced once more,
// give the triangle R_c of the reduced camera system. Singular values of the R_pp and of R_c at
// or below kRankTolerance times the largest of the whole scaled triangle (power iteration on its
// block products) are undetermined directions: a placement's own (from the SVD of its R_pp; its rows along them join
// the camera rows), and the cameras' (from the SVD of R_c), with the placements following
// through −G_p·v. They are reported in nullSpace (scaled back to x) and left out of Cov, never
// inverted into noise. Cov then follows by back-substitution with G_p = R_pp⁺·R_pc:
//   Cov_cc = σ²·(R_cᵀR_c)⁺,  Cov_pc = −G_p·Cov_cc,
//   Cov_pp = σ²·R_pp⁺R_pp⁺ᵀ + G_p·Cov_cc·G_pᵀ,  Cov_pq = G_p·Cov_cc·G_qᵀ,
// which is σ²·(JᵀWJ)⁻¹ where the data determine every value, and σ²·(JᵀWJ)⁺ where only
// placements' own values are undetermined (a placement whose points all have weight 0). Time and
// memory are linear in the placements apart from the n x n result.
// The tolerance, 1e-6, is where the sine-tangent lens values' valley starts (its directions sit
// near 1e-8 of the largest, ccal/problem/valley_polish.h): along it the image barely changes,
// re-solves on fresh noise stop wherever their start leads, and a linearised variance there
// (σ/s) describes nothing; the radial and distortion-free models on the bundled sets have their
// smallest singular values above 1e-4.
#ifndef CCAL_MULTICAM_IMAGE_RESIDUAL_COVARIANCE_H
#define CCAL_MULTICAM_IMAGE_RESIDUAL_COVARIANCE_H

#include "ccal/multicam/image_residual_problem.h"

#include <Eigen/Core>

namespace ccal::detail {

struct ParameterCovariance {
  static constexpr double kRankTolerance = 1e-6;

  Eigen::MatrixXd covariance;  // n x n over x
  Eigen::MatrixXd nullSpace;   // n x d: the undetermined directions of x (columns, unit scaled)
  double sigma = 0.0;          // the σ used (pixels)
  bool sigmaEstimated = true;
  double weightedSquares = 0.0;  // Σ w·|r|² at x
  long points = 0;               // N
  long free = 0;                 // parameters that may move (held values excluded)
  long rank = 0;                 // k
  double conditionNumber = 0.0;  // of the column-scaled Jacobian over the determined directions
                                 // (both ends by power iteration: a few digits)

  bool rankDeficient() const { return rank < free; }
  // True when the gradient g (n values, of a quantity over x) has a share above 1e-6 along an
  // undetermined direction: the quantity is not determined by the data.
  bool undetermined(const Eigen::VectorXd& gradient) const;
};

// At x (problem.parameters() values). sigma > 0: the caller's noise σ (pixels); sigma == 0:
// estimated (infinity when 2N − k <= 0). Throws tkInvariantFailure for a negative or
// non-finite sigma or when the residuals cannot be evaluated at x.
ParameterCovariance parameterCovariance(ImageResidualProblem& problem, const double* x,
                                        double sigma);

}  // namespace ccal::detail

#endif
