#include "platform/core/structured_step.h"

namespace ccal::detail {

StructuredStep::StructuredStep(const tkJacobianStructure& structure,
                               BlockArrowheadSystem::Kind kind)
    : system_(structure, kind), rhs_(static_cast<std::size_t>(structure.parameters())) {}

void StructuredStep::prepare(const double* jacobian, const double* f, double* diagonal) {
  system_.form(jacobian, f, rhs_.data(), diagonal);
}

bool StructuredStep::solve(const double* damping, double* step) {
  return system_.solve(damping, rhs_.data(), step);
}

}  // namespace ccal::detail
