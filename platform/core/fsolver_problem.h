// Internal: a tkFSolver seen by the minimisation loop: F is the solver's Func (through
// tkFSolver::evaluate, which zero-fills and checks the column) and the linearisation its
// compJacob. The loop's trial columns are copied into work columns of tkNMMatrix type, because
// the solver's functions take those.
#ifndef TK_CORE_FSOLVER_PROBLEM_H
#define TK_CORE_FSOLVER_PROBLEM_H

#include "platform/proc/minimizer.h"

#include <tk/newton_solve.h>

namespace ccal::detail {

class FSolverProblem : public MinimizerProblem {
 public:
  explicit FSolverProblem(tkNewtonSolve& solver);

  long evaluate(const double* x, double* f) override;
  long linearize(const double* x, const double* f) override;
  const double* jacobian() const override;

 protected:
  // x as a column of the solver's type (no copy when it is the solver's own x).
  const tkNMMatrix& column(const double* x);

  tkNewtonSolve& solver_;

 private:
  tkNMMatrix x_;
  tkNMMatrix f_;
};

}  // namespace ccal::detail

#endif
