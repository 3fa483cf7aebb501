#include "ccal/multicam/image_refinement_problem.h"

#include <tk/exception.h>

#include <algorithm>
#include <cmath>

namespace ccal::detail {

ImageRefinementProblem::ImageRefinementProblem(const ImageResidualProblem& problem)
    : problem_(&problem), assembler_(problem.layout()), n_(problem.parameters()) {
  for (const auto& block : problem.residualBlocks())
    assembler_.add(*block);
  structure_ = assembler_.declaredStructure();
  k_.resize(n_, n_);
  std::fill(k_.data(), k_.data() + n_ * n_, 0.0);
  keptX_.assign(static_cast<std::size_t>(n_), 0.0);
}

bool ImageRefinementProblem::assemble(const double* x, double* f, bool withK, double* cost) {
  if (withK)
    kept_ = false;
  try {
    if (!assembler_.assemble(x, f, withK ? &k_ : nullptr, cost))
      return false;
  } catch (const tkMathError&) {  // a pose value outside its domain
    return false;
  }
  // The residual blocks carry doubled weights: F, K and the cost are twice the image ones.
  if (cost != nullptr)
    *cost *= 0.5;
  if (withK) {
    std::copy(x, x + n_, keptX_.begin());
    kept_ = true;
  }
  clearHeld(f, withK);
  return true;
}

void ImageRefinementProblem::clearHeld(double* f, bool withK) {
  const long held = problem_->heldOffset();
  if (held < 0)
    return;
  const ParameterLayout& layout = problem_->layout();
  for (long c = 0; c < layout.cameras(); ++c) {
    const long i = layout.cameraStart(c) + held;
    if (f != nullptr)
      f[i] = 0.0;
    if (withK)
      for (long j = 0; j < n_; ++j)
        k_(i, j) = k_(j, i) = 0.0;
  }
}

long ImageRefinementProblem::evaluate(const double* x, double* f) {
  // F is evaluated at accepted points only (the merit judges trials), where K is asked for next.
  if (!assemble(x, f, true, nullptr))
    std::fill(f, f + n_, HUGE_VAL);
  return 0;
}

long ImageRefinementProblem::linearize(const double* x, const double* f) {
  (void)f;
  if (kept_ && std::equal(x, x + n_, keptX_.begin()))
    return 0;
  return assemble(x, nullptr, true, nullptr) ? 0 : -1;
}

double ImageRefinementProblem::merit(const double* x) {
  double cost = 0.0;
  return assemble(x, nullptr, false, &cost) ? cost : HUGE_VAL;
}

}  // namespace ccal::detail
