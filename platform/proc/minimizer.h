// Internal: the one minimisation loop of the library, behind tkNewtonSolve, tkLevMarSolve,
// tkDampedNewtonSolve and every other iterative fit (docs/solver-framework.md). It lives in the
// procedural layer, the lowest one, so that the fits of that layer use it too; it depends on
// nothing but Eigen and the abort check.
//
// The loop drives F(x) (m values, n parameters) towards a minimum of |F|² or of a merit
// function. Its parts:
// - MinimizerOptions: the settings, by name.
// - MinimizerProblem: F, its linearisation (the Jacobian J, or K = ∂F/∂x for a Newton system)
//   and, for the merit rule, the merit.
// - StepSolver: the damped step from the linearisation: (A + diag(d)) δ = g with A = JᵀJ,
//   g = −JᵀF (normal equations) or A = K, g = −F (Newton system); dense or block-structured
//   (dense_step_solvers.h here, structured_step.h in the core library).
// - AcceptanceRule: which trial steps are taken.
// - MinimizerCallback: asked before every linearisation and every trial step and told after every
//   accepted one; a negative status stops the loop (abort requests, progress).
//
// One iteration: linearise at x; D from the diagonal of A (diag A clamped below at 1e-15 of its
// largest entry when scaleByDiagonal, else I); then trials with damping λ·D: solve, evaluate F at
// x + δ (after the problem's adjustTrial), accept or raise λ by 10 (at most maxDampingRaises times,
// never above maxDamping). An accepted step lowers λ by 10, not below dampingFloor (relative to max
// diag A when D = I), nor below λ itself when λ is already lower.
//
// Stopping rules, in order: |F|² <= functionTolerance (kSmallFunction, before every iteration);
// maxIterations iterations done (kIterationLimit); a negative status of the problem or the
// callback (kStopped, x keeps the last accepted point); |δ| <= stepTolerance ·
// (|x| + stepTolerance) (kSmallStep, after that step's trial: taken when accepted), or an accepted
// step that lowered the acceptance measure by no more than decreaseTolerance times its value
// or (kMerit) a rejected one that raised it by no more than that while the quadratic model
// promised no more than that decrease (kSmallStep, x unchanged); no accepted step within the
// damping limits (kNoDecrease). The undamped Newton rule takes every finite step; a step it cannot
// solve ends with kSingularSystem, a non-finite F at the trial point with kNoDecrease.
//
// The loop allocates nothing: its work columns are sized by the constructor.
#ifndef TK_PROC_MINIMIZER_H
#define TK_PROC_MINIMIZER_H

#include <vector>

namespace ccal::detail {

// Why a run ended (tkFSolver::Termination names the same reasons).
enum class Termination {
  kNotRun,          // the problem threw
  kSmallFunction,   // |F|² <= functionTolerance
  kSmallStep,       // a small step, or a small decrease of the measure
  kIterationLimit,  // maxIterations iterations done
  kNoDecrease,      // no accepted step within the damping limits
  kSingularSystem,  // undamped: the step could not be solved
  kStopped,         // a negative status of the problem or the callback
  kNonFiniteStart   // F at the start has a non-finite entry
};

enum class AcceptanceRule {
  kNewton,       // undamped: every finite step is taken
  kSquaredNorm,  // Levenberg–Marquardt: |F(x + δ)|² < |F(x)|²
  kMerit         // damped Newton: merit(x + δ) < merit(x), F(x + δ) finite, optionally a
                 // sufficient share of the decrease the quadratic model predicts
};

struct MinimizerOptions {
  AcceptanceRule acceptance = AcceptanceRule::kSquaredNorm;
  long maxIterations = 100;
  double stepTolerance = 1e-12;     // relative size of a step that ends the loop
  double functionTolerance = 0.0;   // |F|² at or below which the loop ends
  double initialDamping = 1e-2;     // λ at the start of every run (> 0 when damped)
  double maxDamping = 1e20;         // largest λ
  long maxDampingRaises = 15;       // raises of λ within one iteration
  bool scaleByDiagonal = true;      // D = diag A (true) or I
  double dampingFloor = 1e-15;      // smallest λ an accepted step leads to (relative when D = I)
  double sufficientDecrease = 0.0;  // kMerit: share of the predicted decrease, in [0, 1)
  double decreaseTolerance = 0.0;   // relative decrease of the measure that ends the loop
  double meritFloor = 0.0;          // kMerit: a merit at or below which the loop ends
  bool meritFirst = false;  // kMerit: judge a trial by its merit before F is evaluated there
                            // (for problems whose merit costs less than F); same decisions
};

// What the callback is told.
enum class MinimizerEvent { kBeforeLinearization, kBeforeTrial, kStepAccepted };

struct MinimizerState {
  MinimizerEvent event;
  long iteration;      // iterations begun
  double squaredNorm;  // |F|² at the current x
  double damping;      // λ
};

class MinimizerCallback {
 public:
  virtual ~MinimizerCallback() = default;
  // 0 to go on, a negative status to stop (kStopped with that status).
  virtual long operator()(const MinimizerState& state) = 0;
};

// Stops when csys_attention_check reports an abort request (before every linearisation and trial).
class AttentionCallback final : public MinimizerCallback {
 public:
  long operator()(const MinimizerState& state) override;
};

class MinimizerProblem {
 public:
  virtual ~MinimizerProblem() = default;
  // F(x) into f (m values). 0 or a negative status; exceptions pass through the loop.
  virtual long evaluate(const double* x, double* f) = 0;
  // Linearises at x, where F = f: the Jacobian (m x n, column-major) returned by jacobian()
  // afterwards. 0 or a negative status.
  virtual long linearize(const double* x, const double* f) = 0;
  virtual const double* jacobian() const = 0;
  // kMerit only: the merit at x (non-finite values reject a step).
  virtual double merit(const double* x);
  // May move the trial point x + δ (n values, in place) before it is judged, to a point no
  // worse: the minimum over values that enter the residuals linearly, for one (variable
  // projection). The default leaves it.
  virtual void adjustTrial(double* /*x*/) {}
};

class StepSolver {
 public:
  virtual ~StepSolver() = default;
  // After a linearisation: builds what solve needs from the Jacobian (m x n) and F, and writes
  // diag A (n values).
  virtual void prepare(const double* jacobian, const double* f, double* diagonal) = 0;
  // (A + diag(damping)) step = g. False when the system is singular (for Cholesky: not
  // numerically positive definite) or the step not finite: the trial is rejected.
  virtual bool solve(const double* damping, double* step) = 0;
  // The factor by which λ falls after the last solved step was accepted, given the loop's own
  // (usual, 10): a solver that measures how far its steps can be trusted may choose a smaller
  // one, in [1, usual]. The default is usual.
  virtual double dampingDecrease(double usual) const { return usual; }
};

struct MinimizerSummary {
  Termination termination = Termination::kNotRun;
  long iterations = 0;
  long status = 0;           // the negative status that stopped the loop, else 0
  double squaredNorm = 0.0;  // |F|² at the final x; +infinity when F failed at the start
  double damping = 0.0;      // λ at the end
};

class Minimizer {
 public:
  // n parameters, m function values (>= 1 each).
  Minimizer(long n, long m);

  // Runs from x (n values, updated in place to the last accepted point); f (m values) receives
  // F at x and is kept current, so that the problem and the step solver may read it. callback
  // may be null.
  MinimizerSummary run(const MinimizerOptions& options, MinimizerProblem& problem,
                       StepSolver& solver, MinimizerCallback* callback, double* x, double* f);

  long parameters() const { return n_; }
  long functionValues() const { return m_; }

 private:
  // Fills scaling_ (D) from diagonal_ and returns the damping floor of the iteration.
  double prepareScaling(const MinimizerOptions& options);

  long n_;
  long m_;
  std::vector<double> xTrial_;
  std::vector<double> fTrial_;
  std::vector<double> step_;
  std::vector<double> damping_;
  std::vector<double> diagonal_;
  std::vector<double> scaling_;
};

}  // namespace ccal::detail

#endif
