// The residual blocks of the multi-plate solvers and their evaluation: the gradient column F, its
// Gauss-Newton Jacobian K and the image cost E, assembled by ccal/problem/gradient_assembler.h.
//
// A residual block is one list of observations, camera c in one placement, with the residuals of
// platform/core/camera_model/residuals.h stacked in row groups (ResidualBlock::rowGroups), so
// that one camera point, one set of its pose derivatives and one position at Z = 1 of each image
// point serve them all. It depends on camera c's block and on the placement's block (none for
// Z-rotation placement 0, the world frame). Its forms:
//   kMixedTerms (calibration, eNoDistortion / eRadial): the intrinsic-term rows feed the
//     camera's intrinsic values (offsets 0..4, 11..), the pose-term rows the camera's pose values
//     (5..10) and the placement's block: F is the defined analytic gradient (intrinsic terms, and
//     pose terms measured at Z = 1 with frozen depth weights); the image rows feed nothing and
//     are the cost;
//   kPoseTerms (pose solver, any model, intrinsics fixed): the pose-term rows feed the camera's
//     six pose values and the placement's block; the image rows are the cost;
//   kImage (calibration, eSineTan): the image residual feeds everything, with the weight doubled:
//     F = 2·∇E exactly (4·Jᵀ·w·r, the scale of the defining quotient (E(x + δe) − E(x − δe))/δ,
//     which differs from it by that difference's error only), K = 4·Jᵀ·w·J; the cost is half
//     the block's.
// A correspondence of weight 0, at depth 0 (|Pc.z| ≤ 1e-15) or, for the pose term, whose image
// point reaches no ray contributes nothing.
#ifndef CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H
#define CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H

#include "ccal/problem/gradient_assembler.h"
#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/residual_block.h"
#include "ccal/problem/wide_kernels.h"
#include "platform/core/camera_model/camera_model.h"
#include "platform/core/camera_model/pose.h"

#include <tk/nm_matrix.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace ccal::detail {

class MultiplateListResidual final : public ResidualBlock {
 public:
  enum class Form { kMixedTerms, kPoseTerms, kImage };

  // The list of camera c in placement (kind kNone: the world frame) of problem, which must
  // outlive the block, as must the list's records; the form follows from the layout, or is
  // kImage for every layout when imageOnly (the image-residual problem of any lens model and of
  // the pose-only layout).
  MultiplateListResidual(const tk_MultiplateProblem& problem, long camera,
                         ParameterLayout::Block placement, const tk_MultiplateList& list,
                         bool imageOnly = false);

  long camera() const { return camera_; }
  // Which rows of the stacked forms Evaluate computes: all of them (the default), the gradient
  // terms only (an evaluation that needs no cost; the image rows are 0) or the image rows only
  // (the cost alone, without derivatives; the other rows are not written). The kImage form
  // computes its rows under every choice.
  enum class Rows { kAll, kTerms, kImage };
  void rows(Rows rows) { rows_ = rows; }
  const ParameterLayout::Block& placement() const { return placement_; }

  // Throws tkMathError::Singular for a non-finite quaternion value; never returns false.
  bool Evaluate(const double* const* parameters, double* residuals,
                double** jacobians) const override;

 private:
  // Evaluate's loop over the points for a camera block of kIntrinsic intrinsic values (all rows,
  // or the gradient terms alone).
  template <int kIntrinsic>
  void evaluatePoints(const CameraModel& model, const Pose& camera, const Pose* placement,
                      double* residuals, double** jacobians) const;
  // The loop itself, inlined into evaluatePoints and, for the stacked forms, compiled a second
  // time as the wide code (wide_kernels.h), which runs where the processor has it. The image
  // form's loop (the sine-tangent least squares) is portable code only.
  template <int kIntrinsic>
  void evaluatePointsWith(const CameraModel& model, const Pose& camera, const Pose* placement,
                          double* residuals, double** jacobians) const;
#if CCAL_WIDE_KERNELS
  template <int kIntrinsic>
  void evaluatePointsWide(const CameraModel& model, const Pose& camera, const Pose* placement,
                          double* residuals, double** jacobians) const;
#endif

  // The rows of an evaluation without derivatives that computes the image rows alone.
  void imageRows(const CameraModel& model, const Pose& camera, const Pose* placement,
                 double* residuals) const;

  Form form_;
  const tk_MultiplateProblem* problem_;
  long camera_;
  ParameterLayout::Block placement_;
  const ccal_crspPair2D3DWeighted* records_;
  std::size_t count_;
  CameraIntrinsics fixed_;  // the pose solver's intrinsics
  Rows rows_ = Rows::kAll;
};

// Which rows `target` computes (a list residual, or an evaluation over all of its blocks) for one
// evaluation; all of them again afterwards, also when the evaluation throws.
template <typename Target>
class RowsScope {
 public:
  RowsScope(Target& target, MultiplateListResidual::Rows rows) : target_(target) {
    target_.rows(rows);
  }
  ~RowsScope() { target_.rows(MultiplateListResidual::Rows::kAll); }
  RowsScope(const RowsScope&) = delete;
  RowsScope& operator=(const RowsScope&) = delete;

 private:
  Target& target_;
};

// F, K and E of one solver, in one pass over the residual blocks: E alone (image rows without
// derivatives) judges a trial point; F(x) at a point computes E there too, and K as well while
// trials are being accepted (a trial whose K is never asked for ended the minimisation), and
// keeps them, so that the merit and, mostly, the Jacobian at an accepted point cost a copy.
// Allocates in reset (and once more when K first gets its shape); evaluations after the first
// allocate nothing. Not thread-safe.
class MultiplateEvaluation {
 public:
  // Rebuilds the residual blocks from the problem (which must outlive their use).
  void reset(const tk_MultiplateProblem& problem);

  // F at x over the observations selected by index (FuncI's selection: index ≥ 0 keeps only the
  // lists of the camera, or of the placement, whose block holds parameter index; −1 every list).
  // With index −1 K and E are computed as well and kept for jacobian() and cost() at the same x.
  void function(const tkNMMatrix& x, tkNMMatrix& f, long index);
  // K at x (n x n, column-major, only the declared blocks written).
  void jacobian(const tkNMMatrix& x, tkNMMatrix& k);
  // E at x.
  double cost(const tkNMMatrix& x);

 private:
  bool keptAt(const tkNMMatrix& x) const;
  // The rows of every block (RowsScope).
  void rows(MultiplateListResidual::Rows rows);
  friend class RowsScope<MultiplateEvaluation>;

  const tk_MultiplateProblem* problem_ = nullptr;
  double costScale_ = 1.0;  // 1/2 where the image blocks carry doubled weights
  std::vector<std::unique_ptr<MultiplateListResidual>> blocks_;
  std::unique_ptr<GradientAssembler> assembler_;
  std::vector<bool> active_;   // of the blocks, for a selection
  std::vector<double> keptX_;  // where k_ and cost_ were computed
  tkNMMatrix k_;
  double cost_ = 0.0;
  bool kept_ = false;  // cost_ (and k_ when keptK_) belong to keptX_
  bool keptK_ = false;
  bool kTaken_ = true;       // jacobian() was asked for since the last F at every observation
  unsigned accepted_ = ~0U;  // bit i: the trial i + 1 F evaluations back was accepted
};

}  // namespace ccal::detail

#endif
