// Internal: the bookkeeping shared by the damped minimisers (tkLevMarSolve, tkDampedNewtonSolve).
#ifndef TK_CORE_DAMPED_ITERATION_H
#define TK_CORE_DAMPED_ITERATION_H

#include <tk/fsolver.h>

// Factor by which the damping rises after a rejected step and falls after an accepted one.
constexpr double tk_kDampingFactor = 10.0;

// Raises lambda for another trial within one iteration; false (lambda unchanged) when the
// iteration has used its maxRaises or the raised value would pass lambdaMax.
inline bool tk_raiseDamping(double& lambda, long& raised, long maxRaises, double lambdaMax) {
  if (raised >= maxRaises || lambda * tk_kDampingFactor > lambdaMax)
    return false;
  lambda *= tk_kDampingFactor;
  ++raised;
  return true;
}

// After the trials of one iteration: true when the minimisation ends, with the reason in why
// (a stopped function first, then a small step, then no accepted step).
inline bool tk_iterationEnds(bool stopped, bool stepSmall, bool accepted,
                             tkFSolver::Termination& why) {
  if (stopped)
    why = tkFSolver::eFunctionStopped;
  else if (stepSmall)
    why = tkFSolver::eSmallStep;
  else if (!accepted)
    why = tkFSolver::eNoDecrease;
  else
    return false;
  return true;
}

#endif
