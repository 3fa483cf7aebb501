// The residual blocks of the multi-plate solvers and their evaluation: the gradient column F, its
// Gauss-Newton Jacobian K and the image cost E, assembled by ccal/problem/gradient_assembler.h.
//
// A residual block is one list of observations, camera c in one placement, under one residual of
// platform/core/camera_model/residuals.h. It depends on camera c's block and on the placement's
// block (none for Z-rotation placement 0, the world frame). What feeds F and K:
//   calibration, eNoDistortion / eRadial: the intrinsic-term residual feeds the camera's intrinsic
//     values (offsets 0..4, 11..), the pose-term residual the camera's pose values (5..10) and the
//     placement's block: F is the defined analytic gradient (intrinsic terms, and pose terms
//     measured at Z = 1 with frozen depth weights);
//   calibration, eSineTan: the image residual feeds everything, with the weight doubled: F = 2·∇E
//     exactly (4·Jᵀ·w·r, the scale of the defining quotient (E(x + δe) − E(x − δe))/δ, which
//     differs from it by that difference's error only), K = 4·Jᵀ·w·J;
//   pose solver (any model): the pose-term residual with the intrinsics fixed feeds the camera's
//     six pose values and the placement's block.
// E (the merit) always comes from image residual blocks. A correspondence of weight 0, at depth 0
// (|Pc.z| ≤ 1e-15) or, for the pose term, whose image point reaches no ray contributes nothing.
#ifndef CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H
#define CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H

#include "ccal/multicam/multiplate_problem.h"
#include "ccal/problem/gradient_assembler.h"
#include "ccal/problem/residual_block.h"
#include "platform/core/camera_model/camera_model.h"

#include <tk/nm_matrix.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace ccal::detail {

class MultiplateListResidual final : public ResidualBlock {
 public:
  enum class Kind { kIntrinsicTerm, kPoseTerm, kImage };

  // The list of camera c in placement (kind kNone: the world frame) of problem, which must
  // outlive the block, as must the list's records. feeds false: a block for the cost only.
  MultiplateListResidual(Kind kind, const tk_MultiplateProblem& problem, long camera,
                         ParameterLayout::Block placement, const tk_MultiplateList& list,
                         bool feeds);

  long camera() const { return camera_; }
  const ParameterLayout::Block& placement() const { return placement_; }

  // Throws tkMathError::Singular for a non-finite quaternion value; never returns false.
  bool Evaluate(const double* const* parameters, double* residuals,
                double** jacobians) const override;

 private:
  Kind kind_;
  const tk_MultiplateProblem* problem_;
  long camera_;
  ParameterLayout::Block placement_;
  const ccal_crspPair2D3DWeighted* records_;
  std::size_t count_;
  CameraIntrinsics fixed_;  // the pose solver's intrinsics
};

// F, K and E of one solver. Allocates in reset (and once more when K first gets its shape);
// evaluations after the first allocate nothing. Not thread-safe.
class MultiplateEvaluation {
 public:
  // Rebuilds the residual blocks from the problem (which must outlive their use).
  void reset(const tk_MultiplateProblem& problem);

  // F at x over the observations selected by index (FuncI's selection: index ≥ 0 keeps only the
  // lists of the camera, or of the placement, whose block holds parameter index; −1 every list).
  // With index −1 E is computed as well and kept for cost() at the same x.
  void function(const tkNMMatrix& x, tkNMMatrix& f, long index);
  // K at x (n x n, column-major, only the declared blocks written).
  void jacobian(const tkNMMatrix& x, tkNMMatrix& k);
  // E at x.
  double cost(const tkNMMatrix& x);

 private:
  double imageCost(const double* x);

  const tk_MultiplateProblem* problem_ = nullptr;
  bool imageFeeds_ = false;  // F comes from the image blocks (eSineTan calibration)
  std::vector<std::unique_ptr<MultiplateListResidual>> blocks_;
  std::unique_ptr<GradientAssembler> gradient_;
  std::unique_ptr<GradientAssembler> image_;  // E, when F comes from other blocks
  std::vector<bool> active_;                  // of the gradient blocks, for a selection
  std::vector<double> f_;
  std::vector<double> costX_;
  double cost_ = 0.0;
  bool costValid_ = false;
};

}  // namespace ccal::detail

#endif
