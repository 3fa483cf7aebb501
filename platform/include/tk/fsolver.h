// Base of the toolkit's solvers for a system of equations F(x) = 0.
//
// x is a column of n parameters, F(x) a column of m function values (tkNMMatrix n x 1 and
// m x 1). The calibration solvers use m == n with F the gradient of a weighted sum of squared
// errors; m > n (F a residual column, solved in the least-squares sense) works as well.
// A concrete solver derives from tkLevMarSolve (or tkNewtonSolve), passes its settings to the
// constructor and overrides Func, or FuncI, or both; see docs/solver-framework.md.
//
// Virtual operations, in this order: destructor, minimize, FuncI, Func, compJacob.
//
// The function:
// - Func(x, f) evaluates every entry of F at x into f. FuncI(x, f, index) evaluates the entries
//   that depend on parameter `index`; index == kAllEntries (-1) means all entries.
// - The framework always hands over f of shape m x 1 filled with zeros; entries the function
//   does not write therefore count as 0. The function must not change the shape of f
//   (tkInvariantFailure otherwise).
// - Both return 0 (any value >= 0 counts as success) or a negative status. A negative status
//   ends the minimisation at once; the solver keeps the last accepted x and reports the status
//   through functionStatus(). Exceptions thrown by the function pass through minimize()
//   unchanged; x then also keeps the last accepted value.
// - The defaults forward to each other: Func calls FuncI(x, f, kAllEntries) and FuncI ignores
//   the index and calls Func. A solver overrides at least one of them; one that overrides
//   neither gets tkInvariantFailure on the first evaluation.
//
// Block Jacobian (blockJacobian set at construction and recomputeYVals(flags) given):
// - The flags split the parameters into consecutive blocks: flags[i] true means parameter i
//   starts a new block (parameter 0 always does). recomputeY() is then true.
// - compJacob obtains column i as (FuncI(x + h e_i, f, i) - FuncI(x, f, i)) / h. The base value
//   FuncI(x, f, i) is evaluated once per block, at its first parameter, and reused for the
//   other parameters of the block.
// - Contract for FuncI with index i >= 0 while recomputeY() is true: it may leave out any term
//   of F that does not depend on the parameters of i's block, but it must leave out the same
//   terms for every index of that block (so that they cancel in the difference), and it must
//   include every term that does depend on them. Typically FuncI evaluates only the
//   observations that involve i's block; this makes the cost of a column grow with the size of
//   the block rather than with the whole problem.
// - When recomputeY() is false, FuncI must treat every index as kAllEntries; the framework then
//   differentiates Func over the whole problem.
//
// Declared structure (jacobianStructure(s), see tk/jacobian_structure.h):
// - The solver states which parameter blocks can reach which groups of function values. From
//   then on compJacob computes a column only on the rows its block reaches and sets the others
//   to zero, and tkNewtonSolve / tkLevMarSolve form and solve the normal equations block-wise,
//   eliminating the local blocks by a Schur complement: the cost of an iteration grows linearly
//   with the number of local blocks instead of cubically with n. The steps equal those of the
//   dense path up to rounding.
// - The declaration is a promise: every Jacobian entry outside the declared blocks must be zero
//   (an analytic compJacob must leave them zero). A wrong declaration gives wrong steps.
#ifndef TK_FSOLVER_H
#define TK_FSOLVER_H

#include <tk/export.h>
#include <tk/jacobian_structure.h>
#include <tk/nm_matrix.h>

#include <vector>

class TK_API tkFSolver {
 public:
  // The index with which Func calls FuncI: evaluate every entry.
  static constexpr long kAllEntries = -1;

  // Why the last minimize() ended.
  enum Termination {
    eNotRun,           // minimize() has not run yet (or ended by an exception)
    eSmallFunction,    // |F|^2 <= fTol
    eSmallStep,        // the step δ satisfied |δ| <= xTol * (|x| + xTol)
    eIterationLimit,   // nIter() iterations were done
    eNoDecrease,       // no admissible step lowered |F|^2 (damping limits reached)
    eSingularSystem,   // the step equations could not be solved (undamped Newton only)
    eFunctionStopped,  // the function or compJacob returned a negative status
    eNonFiniteStart    // F at the starting x has a non-finite entry
  };

  virtual ~tkFSolver();

  // Runs the solver from getX(); on return getX() holds the solution (or the last accepted
  // point). Returns the final cost (1/2)|F|^2 at getX(); see the derived class for details.
  virtual double minimize() = 0;

  // Entries of F at x that depend on parameter index (all of them for kAllEntries), into f
  // (m x 1, zero-filled by the framework). See the contract above. Returns 0 or a negative
  // status.
  virtual long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const;
  // Every entry of F at x into f (m x 1, zero-filled). Returns 0 or a negative status.
  virtual long Func(const tkNMMatrix& x, tkNMMatrix& f) const;

  // Jacobian of F at x (m x n, resized when it has another shape), given f = F(x) as returned
  // by Func. The default uses forward differences with step h_i = jacobianStep * max(1, |x_i|)
  // (the representable x_i + h_i - x_i is used as the divisor), either on Func or, when
  // recomputeY() is true, block-wise on FuncI as described above. Override it to supply an
  // analytic Jacobian. With a declared structure only the declared blocks are computed and the
  // rest of J is zero. Returns 0, or the negative status of the function (jacobian is then
  // incomplete). Throws tkInvariantFailure when x or f has the wrong shape.
  virtual long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian);

  // Starting point for minimize(). Throws tkInvariantFailure unless x is n x 1 and finite.
  void setX(const tkNMMatrix& x);
  // The current parameters (zeros until setX is called): after minimize(), the result.
  const tkNMMatrix& getX() const { return x_; }
  // Number of parameters n.
  long getSize() const { return n_; }
  // Number of function values m.
  long getFunctionSize() const { return m_; }

  // Largest number of iterations one minimize() may do (one Jacobian each).
  // Throws tkInvariantFailure for a negative value.
  void nIter(long maxIterations);
  long nIter() const { return maxIterations_; }

  // True when compJacob works block-wise: blockJacobian was set at construction and flags of
  // size n were given to recomputeYVals. FuncI reads it to decide whether to honour its index.
  bool recomputeY() const;
  // Block-start flags, one per parameter (see above). An empty vector switches the block mode
  // off again. Throws tkInvariantFailure when the size is neither 0 nor n.
  void recomputeYVals(const std::vector<bool>& flags);
  const std::vector<bool>& recomputeYVals() const { return blockStarts_; }

  // Declares the block structure of the Jacobian (see above); an empty structure returns to the
  // dense path. Throws tkInvariantFailure unless the structure is empty or has n parameters and
  // m function values.
  void jacobianStructure(const tkJacobianStructure& structure);
  const tkJacobianStructure& jacobianStructure() const { return structure_; }
  // Incremented by every jacobianStructure(s) call, so that derived classes can tell when to
  // rebuild what they derived from the structure.
  long jacobianStructureVersion() const { return structureVersion_; }

  bool blockJacobian() const { return blockJacobian_; }
  double jacobianStep() const { return jacobianStep_; }

  // Outcome of the last minimize(): the reason it stopped, the number of iterations it did
  // and the negative function status that stopped it (0 otherwise). After a minimize() that
  // ended by an exception of the function: eNotRun, 0, 0.
  Termination termination() const { return termination_; }
  long iterationsDone() const { return iterationsDone_; }
  long functionStatus() const { return functionStatus_; }

  tkFSolver(const tkFSolver&) = delete;
  tkFSolver& operator=(const tkFSolver&) = delete;

 protected:
  // n parameters, m function values, the iteration limit, the relative forward-difference step
  // and whether the block Jacobian may be used. Throws tkInvariantFailure when n < 1, m < 1,
  // maxIterations < 0 or jacobianStep is not a positive finite number.
  tkFSolver(long n, long m, long maxIterations, double jacobianStep, bool blockJacobian);

  // Zero-fills f and calls Func (resp. FuncI); checks that f kept its shape.
  long evaluate(const tkNMMatrix& x, tkNMMatrix& f) const;
  long evaluateI(const tkNMMatrix& x, tkNMMatrix& f, long index) const;

  // Writable current parameters, for the derived minimisers.
  tkNMMatrix& currentX() { return x_; }
  // Records the outcome of a minimize() run.
  void setOutcome(Termination termination, long iterationsDone, long functionStatus);

 private:
  long n_;
  long m_;
  long maxIterations_;
  double jacobianStep_;
  bool blockJacobian_;
  std::vector<bool> blockStarts_;
  tkJacobianStructure structure_;
  long structureVersion_ = 0;
  tkNMMatrix x_;

  // Work columns of the numerical Jacobian, sized once.
  tkNMMatrix xPerturbed_;
  tkNMMatrix fPerturbed_;
  tkNMMatrix fBlockBase_;

  Termination termination_ = eNotRun;
  long iterationsDone_ = 0;
  long functionStatus_ = 0;

  // Set while the default Func forwards to FuncI, to detect a solver overriding neither.
  mutable bool forwardingToFuncI_ = false;
};

#endif
