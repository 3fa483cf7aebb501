// Internal: the structured step solver of the minimiser (platform/proc/minimizer.h): the damped
// step of the normal equations or of the Newton system with the local blocks of a declared
// tkJacobianStructure eliminated (block_arrowhead_system.h), linear in their number. The dense
// solvers are in platform/proc/dense_step_solvers.h. prepare() and solve() allocate nothing.
#ifndef TK_CORE_STRUCTURED_STEP_H
#define TK_CORE_STRUCTURED_STEP_H

#include "platform/core/block_arrowhead_system.h"
#include "platform/proc/minimizer.h"

#include <tk/jacobian_structure.h>

#include <vector>

namespace ccal::detail {

class StructuredStep final : public StepSolver {
 public:
  // Precondition as BlockArrowheadSystem's constructor.
  StructuredStep(const tkJacobianStructure& structure, BlockArrowheadSystem::Kind kind);
  void prepare(const double* jacobian, const double* f, double* diagonal) override;
  bool solve(const double* damping, double* step) override;

 private:
  BlockArrowheadSystem system_;
  std::vector<double> rhs_;
};

}  // namespace ccal::detail

#endif
