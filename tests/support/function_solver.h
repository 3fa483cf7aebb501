// A tkLevMarSolve whose function is given as a callable, for tests of the solver framework.
#ifndef CCAL_TESTS_SUPPORT_FUNCTION_SOLVER_H
#define CCAL_TESTS_SUPPORT_FUNCTION_SOLVER_H

#include <tk/levmar_solve.h>
#include <tk/nm_matrix.h>

#include <functional>
#include <utility>
#include <vector>

// The eleven tkLevMarSolve settings with the values the calibration solvers use, except for
// n and m.
struct LevMarSettings {
  double xTol = 1e-12;
  double fTol = 1e-12;
  long maxIterations = 300;
  long maxLambdaSteps = 15;
  double lambda0 = 0.01;
  double jacobianStep = 1e-8;
  double lambdaMax = 1e20;
  bool scaleByDiagonal = true;
  bool blockJacobian = false;
};

class FunctionSolver : public tkLevMarSolve {
 public:
  using Function = std::function<long(const tkNMMatrix& x, tkNMMatrix& f)>;

  FunctionSolver(long n, long m, Function function, const LevMarSettings& s = LevMarSettings())
      : tkLevMarSolve(n, m, s.xTol, s.fTol, s.maxIterations, s.maxLambdaSteps, s.lambda0,
                      s.jacobianStep, s.lambdaMax, s.scaleByDiagonal, s.blockJacobian),
        function_(std::move(function)) {}

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override {
    ++calls;
    return function_(x, f);
  }

  mutable long calls = 0;

 private:
  Function function_;
};

inline tkNMMatrix columnOf(const std::vector<double>& values) {
  tkNMMatrix column(static_cast<long>(values.size()), 1);
  for (size_t i = 0; i < values.size(); ++i)
    column(static_cast<long>(i), 0) = values[i];
  return column;
}

#endif
