// The refinement on image residuals as a minimiser problem (platform/proc/minimizer.h) of the
// Newton-system kind: F = 4·JᵀW·r (twice the gradient of the image cost: the lists' doubled
// weights), K = 4·JᵀW·J in the declared block-arrowhead form (placements eliminated), merit = the
// image cost Σ w·|π(P) − p|², all
// assembled per list by ccal/problem/gradient_assembler.h from the lists of an
// ImageResidualProblem. Time and memory are linear in the placements apart from the n x n K the
// assembler writes (its declared blocks only). The damped Newton step on (F, K) is the
// Levenberg–Marquardt step of the image residuals: the same steps and decisions.
//
// The held value of each camera (ImageResidualProblem::heldOffset, the sine-tan gauge) has F
// and its row and column of K at 0, so the step leaves it.
//
// After the first evaluation nothing allocates. A point whose pose values leave their domain has
// merit +infinity, F +infinity and a failing linearisation (status −1).
#ifndef CCAL_MULTICAM_IMAGE_REFINEMENT_PROBLEM_H
#define CCAL_MULTICAM_IMAGE_REFINEMENT_PROBLEM_H

#include "ccal/multicam/image_residual_problem.h"
#include "ccal/problem/gradient_assembler.h"
#include "platform/proc/minimizer.h"

#include <tk/jacobian_structure.h>
#include <tk/nm_matrix.h>

#include <vector>

namespace ccal::detail {

class ImageRefinementProblem final : public MinimizerProblem {
 public:
  // Over the lists of problem, which must outlive this object.
  explicit ImageRefinementProblem(const ImageResidualProblem& problem);

  long parameters() const { return n_; }
  // The structure of K for the structured Newton step.
  const tkJacobianStructure& structure() const { return structure_; }

  long evaluate(const double* x, double* f) override;
  long linearize(const double* x, const double* f) override;
  const double* jacobian() const override { return k_.data(); }
  double merit(const double* x) override;

 private:
  bool assemble(const double* x, double* f, bool withK, double* cost);
  void clearHeld(double* f, bool withK);

  const ImageResidualProblem* problem_;
  GradientAssembler assembler_;
  tkJacobianStructure structure_;
  long n_;
  tkNMMatrix k_;
  std::vector<double> keptX_;  // where k_ belongs
  bool kept_ = false;
};

}  // namespace ccal::detail

#endif
