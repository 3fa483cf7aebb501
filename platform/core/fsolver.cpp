#include <tk/fsolver.h>
#include "platform/core/invalid_argument.h"

#include "platform/core/nm_matrix_eigen.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

void requireColumn(const tkNMMatrix& column, long length, const char* what) {
  if (column.rows() != length || column.cols() != 1) {
    tk_throwInvalidArgument(std::string("tkFSolver: ") + what + " is " +
                            std::to_string(column.rows()) + " x " + std::to_string(column.cols()) +
                            ", expected " + std::to_string(length) + " x 1");
  }
}

// Clears a flag on scope exit, also when the guarded call throws.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

tkFSolver::tkFSolver(long n, long m, long maxIterations, double jacobianStep, bool blockJacobian)
    : n_(n),
      m_(m),
      maxIterations_(maxIterations),
      jacobianStep_(jacobianStep),
      blockJacobian_(blockJacobian) {
  if (n < 1 || m < 1) {
    tk_throwInvalidArgument(
        "tkFSolver: needs at least one parameter and one function value"
        " (n = " +
        std::to_string(n) + ", m = " + std::to_string(m) + ")");
  }
  if (maxIterations < 0)
    tk_throwInvalidArgument("tkFSolver: negative iteration limit");
  if (!(jacobianStep > 0.0) || !std::isfinite(jacobianStep)) {
    tk_throwInvalidArgument("tkFSolver: the Jacobian step must be positive and finite");
  }
  x_.resize(n, 1);
  xPerturbed_.resize(n, 1);
  fPerturbed_.resize(m, 1);
  fBlockBase_.resize(m, 1);
}

tkFSolver::~tkFSolver() = default;

long tkFSolver::FuncI(const tkNMMatrix& x, tkNMMatrix& f, long /*index*/) const {
  if (forwardingToFuncI_) {
    tk_throwInvalidArgument("tkFSolver: the solver overrides neither Func nor FuncI");
  }
  return Func(x, f);
}

long tkFSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  FlagScope forwarding(forwardingToFuncI_);
  return FuncI(x, f, kAllEntries);
}

long tkFSolver::evaluate(const tkNMMatrix& x, tkNMMatrix& f) const {
  f.setZero();
  const long status = Func(x, f);
  if (f.rows() != m_ || f.cols() != 1) {
    tk_throwInvalidArgument("tkFSolver: the function changed the shape of its output column");
  }
  return status;
}

long tkFSolver::evaluateI(const tkNMMatrix& x, tkNMMatrix& f, long index) const {
  f.setZero();
  const long status = FuncI(x, f, index);
  if (f.rows() != m_ || f.cols() != 1) {
    tk_throwInvalidArgument("tkFSolver: the function changed the shape of its output column");
  }
  return status;
}

long tkFSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) {
  requireColumn(x, n_, "the parameter column");
  requireColumn(f, m_, "the function column");
  if (jacobian.rows() != m_ || jacobian.cols() != n_)
    jacobian.resize(m_, n_);

  const bool blockWise = recomputeY();
  const bool structured = !structure_.empty();
  xPerturbed_ = x;
  const auto fPerturbed = tk_eigenView(static_cast<const tkNMMatrix&>(fPerturbed_));
  const auto fBlockBase = tk_eigenView(static_cast<const tkNMMatrix&>(fBlockBase_));
  const auto fAtX = tk_eigenView(f);
  auto columns = tk_eigenView(jacobian);
  double* perturbed = xPerturbed_.data();
  if (structured)
    columns.setZero();

  long structureBlock = 0;
  for (long i = 0; i < n_; ++i) {
    const double xi = perturbed[i];
    perturbed[i] = xi + jacobianStep_ * std::max(1.0, std::fabs(xi));
    const double h = perturbed[i] - xi;
    long status = 0;
    if (blockWise) {
      if (i == 0 || blockStarts_[static_cast<std::size_t>(i)]) {
        status = evaluateI(x, fBlockBase_, i);
        if (status < 0)
          return status;
      }
      status = evaluateI(xPerturbed_, fPerturbed_, i);
    } else {
      status = evaluate(xPerturbed_, fPerturbed_);
    }
    if (status < 0)
      return status;
    const auto& base = blockWise ? fBlockBase : fAtX;
    if (structured) {
      // Only the row groups the parameter's block reaches; the rest stays zero.
      while (structureBlock + 1 < structure_.parameterBlocks() &&
             structure_.parameterStart(structureBlock + 1) <= i)
        ++structureBlock;
      for (long g : structure_.groupsOf(structureBlock)) {
        const long first = structure_.rowStart(g);
        const long count = structure_.rowCount(g);
        columns.col(i).segment(first, count) =
            (fPerturbed.col(0).segment(first, count) - base.col(0).segment(first, count)) / h;
      }
    } else {
      columns.col(i) = (fPerturbed - base) / h;
    }
    perturbed[i] = xi;
  }
  return 0;
}

void tkFSolver::setX(const tkNMMatrix& x) {
  requireColumn(x, n_, "the starting point");
  if (!tk_eigenView(x).allFinite()) {
    tk_throwInvalidArgument("tkFSolver: the starting point has a non-finite entry");
  }
  x_ = x;
}

void tkFSolver::nIter(long maxIterations) {
  if (maxIterations < 0)
    tk_throwInvalidArgument("tkFSolver: negative iteration limit");
  maxIterations_ = maxIterations;
}

bool tkFSolver::recomputeY() const {
  return blockJacobian_ && static_cast<long>(blockStarts_.size()) == n_;
}

void tkFSolver::recomputeYVals(const std::vector<bool>& flags) {
  if (!flags.empty() && static_cast<long>(flags.size()) != n_) {
    tk_throwInvalidArgument("tkFSolver: " + std::to_string(flags.size()) +
                            " block-start flags for " + std::to_string(n_) + " parameters");
  }
  blockStarts_ = flags;
}

void tkFSolver::jacobianStructure(const tkJacobianStructure& structure) {
  if (!structure.empty() && (structure.parameters() != n_ || structure.functionValues() != m_)) {
    tk_throwInvalidArgument("tkFSolver: a Jacobian structure of " +
                            std::to_string(structure.functionValues()) + " x " +
                            std::to_string(structure.parameters()) + " for a " +
                            std::to_string(m_) + " x " + std::to_string(n_) + " Jacobian");
  }
  structure_ = structure;
  ++structureVersion_;
}

void tkFSolver::setOutcome(Termination termination, long iterationsDone, long functionStatus) {
  termination_ = termination;
  iterationsDone_ = iterationsDone;
  functionStatus_ = functionStatus;
}
