// The residual blocks of the multi-plate solvers and the one pass that assembles, from them, the
// gradient column F, its Gauss-Newton Jacobian K and the image cost E.
//
// A residual block is one list of observations: camera c in one placement. Its residuals
// (platform/core/camera_model/residuals.h) depend on camera c's block and on the placement's
// block (none for Z-rotation placement 0, the world frame). Each residual kind feeds chosen rows
// of F (F = 2·Σ J_feedᵀ·w·r) and of K (K = 2·Σ J_feedᵀ·w·J, columns over everything the residual
// depends on):
//   kMixed    (calibration, eNoDistortion / eRadial): the intrinsic-term residual feeds the
//             camera's intrinsic values (offsets 0..4, 11..), the pose-term residual the camera's
//             pose values (5..10) and the placement's block. F is the specified analytic gradient
//             (intrinsic terms and pose terms measured at Z = 1 with frozen depth weights).
//   kImage    (calibration, eSineTan): the image residual feeds everything; F = 2·∇E exactly
//             (4·Jᵀ·w·r, the scale of the specified central difference), K = 4·Jᵀ·w·J.
//   kPoseOnly (pose solver, any model): the pose-term residual with the intrinsics fixed feeds the
//             camera's six pose values and the placement's block.
// A correspondence of weight 0, at depth 0 (|Pc.z| ≤ 1e-15) or, for the pose term, whose image
// point reaches no ray contributes nothing.
//
// Selection (the index argument of FuncI): index ≥ 0 keeps only the lists of the camera, or of
// the placement, whose block holds parameter index (a Z-rotation selection drops the arbitrary
// placements and the reverse); −1 keeps every list.
//
// K is an n x n column-major tkNMMatrix; a call writes only the declared blocks of the solvers'
// structure (camera with itself, placement with itself, camera with each placement it saw, both
// ways). A matrix of another shape is resized and zero-filled first. Once the work space has the
// problem's counts (the first evaluation after reset) no evaluation allocates. Not thread-safe.
#ifndef CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H
#define CCAL_MULTICAM_MULTIPLATE_RESIDUALS_H

#include "ccal/multicam/multiplate_gradient.h"
#include "platform/core/camera_model/camera_model.h"
#include "platform/core/camera_model/pose.h"

#include <tk/nm_matrix.h>

#include <cstddef>
#include <vector>

namespace ccal::detail {

enum class MultiplateResidualKind { kMixed, kImage, kPoseOnly };

class MultiplateResiduals {
 public:
  // Rebuilds the list of residual blocks from the problem's views (which must outlive this
  // object's use). Allocates.
  void reset(const tk_MultiplateProblem& problem);

  MultiplateResidualKind kind() const { return kind_; }

  // One pass at x (problem.size() values) over the lists of the selection: F into f (overwritten)
  // when not null, K into k when not null (selection −1 only), E over the selected lists into
  // cost when not null. Throws tkMathError::Singular for a non-finite quaternion value.
  void evaluate(const double* x, long index, double* f, tkNMMatrix* k, double* cost);

  // E over every list at x.
  double imageCost(const double* x);

 private:
  struct List {
    long camera = 0;
    const Pose* placement = nullptr;  // null for the world frame
    long placementStart = -1;         // column of the placement's block
    int placementSize = 0;            // 0, 3 or 6
    bool zRotation = true;
    long placementIndex = 0;  // Z-rotation placement j or arbitrary placement j
    const ccal_crspPair2D3DWeighted* records = nullptr;
    std::size_t count = 0;
  };
  static constexpr int kMaxColumns = 17 + 6;

  // K_ij ← s_i·K_ij·s_j over the declared blocks (the others are 0).
 public:
  void scaleDeclaredBlocks(double* k, long n, const double* s) const;

 private:
  struct DeclaredBlock {
    long rowStart, rowSize, columnStart, columnSize;
  };
  void declareBlocks();
  void prepare(const double* x);
  bool selected(const List& list, long ci, long zi, long ai) const;
  void zeroDeclaredBlocks(double* k, long n) const;
  // Accumulates one list's local F (and K, when wanted) and adds its image cost to cost.
  template <MultiplateResidualKind Kind>
  void accumulateList(const List& list, double* localF, double* localK, double* cost) const;

  const tk_MultiplateProblem* problem_ = nullptr;
  MultiplateResidualKind kind_ = MultiplateResidualKind::kMixed;
  int intrinsicCount_ = 0;  // intrinsic values in a calibration camera block
  std::vector<List> lists_;
  std::vector<DeclaredBlock> declared_;  // distinct
  std::vector<CameraModel> models_;
  std::vector<Pose> cameraPoses_;
  std::vector<Pose> zPoses_;  // [j]; entry 0 unused (the world frame)
  std::vector<Pose> aPoses_;
};

// The solvers' evaluations on top of the residual blocks: F for FuncI (with the image cost of
// the same pass kept for the merit at that x), K for compJacob (F's pass repeated with K).
// Allocates only until its buffers have the problem's size.
class MultiplateEvaluation {
 public:
  void reset(const tk_MultiplateProblem& problem) {
    residuals_.reset(problem);
    costValid_ = false;
  }
  void function(const tkNMMatrix& x, tkNMMatrix& f, long index);
  void jacobian(const tkNMMatrix& x, tkNMMatrix& k);
  double cost(const tkNMMatrix& x);

  // Solves the damped step (K + diag(damping))·step = −F on the symmetrically scaled system
  // S·K·S, S = diag(2^−round(log2|K_ii|/2)) (powers of two: scaling and restoring K and F are
  // exact), by solve(scaledDamping, scaledStep); step = S·scaledStep. The unscaled K mixes values
  // of very different sizes (image scale, lens values, translations), which costs the
  // elimination many digits. K and f are restored on return.
  template <class Solve>
  bool scaledStep(tkNMMatrix& k, tkNMMatrix& f, const tkNMMatrix& damping, tkNMMatrix& step,
                  Solve solve);

 private:
  void scaleSystem(tkNMMatrix& k, tkNMMatrix& f, const tkNMMatrix& damping);
  void restoreSystem(tkNMMatrix& k, tkNMMatrix& f, tkNMMatrix& step);

  MultiplateResiduals residuals_;
  std::vector<double> scale_, inverseScale_;
  tkNMMatrix scaledDamping_;
  std::vector<double> costX_;
  double cost_ = 0.0;
  bool costValid_ = false;
  std::vector<double> f_;
};

template <class Solve>
bool MultiplateEvaluation::scaledStep(tkNMMatrix& k, tkNMMatrix& f, const tkNMMatrix& damping,
                                      tkNMMatrix& step, Solve solve) {
  scaleSystem(k, f, damping);
  const bool solved = solve(static_cast<const tkNMMatrix&>(scaledDamping_), step);
  restoreSystem(k, f, step);
  return solved;
}

}  // namespace ccal::detail

#endif
