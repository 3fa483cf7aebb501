// Internal: the residual blocks of single-camera refinement over the single-camera layout
// (ParameterLayout::singleCamera: one camera block, offsets 0..4 the linear map L, 5..7 the pose
// quaternion's free values for the held component, 8..10 the pose translation, 11.. centre and
// lens values). The camera pose maps the physical frame to the camera frame.
//
// One residual pair per correspondence (p, P, w) of the solver's procedural records, from
// platform/core/camera_model/residuals.h; the rows of F each kind feeds (GradientAssembler):
// - eNoDistortion, eRadial:
//     kIntrinsicTerm  feeds the intrinsic rows (offsets 0..4 and 11..), outside the cost;
//     kPoseTerm       feeds the pose rows (5..10), outside the cost;
//     kImage          feeds no row: the cost J = Σ w·|p − invWarpPoint(P)|² only.
//   F = 2·Σ J_feedᵀ·w·r is then the gradient of the error at Z = 1 with the physical points'
//   positions at Z = 1 held for the intrinsic rows and the back-projected image point and the
//   depth held for the pose rows; K = 2·Σ J_feedᵀ·w·J, not symmetric.
// - eSineTan: kImage feeds every row with the weights 2·w, so that F = 4·Σ Jᵀ·w·r = 2·∇J, the
//   analytic form of the defining difference quotient (J(x + h·eᵢ) − J(x − h·eᵢ))/h, and
//   K = 4·Σ Jᵀ·w·J; the assembled cost is then 2·J.
// A correspondence of weight 0 or at camera-frame depth 0 (within 1e-15) gives zero residuals and
// derivatives. Evaluate allocates nothing and makes no virtual call per point.
// The kIntrinsicTerm block of refinementResidualBlocks evaluates the pose terms with its own
// (mixedTermResiduals: the camera-frame points and back-projected image points formed once) and keeps
// them with its parameters; the kPoseTerm block evaluated next at the same parameters (as the
// assembler does, in the order of the list) takes them from there.
#ifndef CCAL_SINGLE_REFINEMENT_RESIDUAL_BLOCKS_H
#define CCAL_SINGLE_REFINEMENT_RESIDUAL_BLOCKS_H

#include "ccal/problem/parameter_layout.h"
#include "ccal/problem/residual_block.h"
#include "platform/core/camera_model/camera_model.h"

#include <proc/ccal_crspPair2D3DWeighted.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace ccal::detail {

class CameraResidualBlock : public ResidualBlock {
 public:
  enum class Kind { kImage, kIntrinsicTerm, kPoseTerm };

  // The pose terms one kIntrinsicTerm evaluation formed, for the kPoseTerm block of the same
  // records: valid for the camera block values and held component they were formed at.
  struct PoseTermRows {
    bool valid = false;
    bool withJacobian = false;
    int held = 0;
    std::vector<double> parameters;  // the camera block
    std::vector<double> residuals;   // 2·count
    std::vector<double> jacobian;    // 2·count x block size, row-major
  };

  // The residuals of kind over count records (not owned; they must outlive the block) under the
  // layout's model and held quaternion component (read at every evaluation). Feeds and weights as
  // stated at the top of this file. shared, when not null, is written by a kIntrinsicTerm block
  // and read by a kPoseTerm block (it is sized here and never reallocated).
  CameraResidualBlock(Kind kind, const ParameterLayout& layout,
                      const ccal_crspPair2D3DWeighted* records, std::size_t count,
                      std::shared_ptr<PoseTermRows> shared = nullptr);

  bool Evaluate(const double* const* parameters, double* residuals,
                double** jacobians) const override;

  // kImage only: when set, every evaluation also writes √w·r (rows: 2·count values) and √w·∂r/∂x
  // (column-major, leading dimension stride >= 2·count, the camera block's columns) with the
  // correspondences' own weights; null pointers switch it off.
  void captureRows(double* rows, double* jacobianRows, long stride) {
    captureRows_ = rows;
    captureJacobian_ = jacobianRows;
    captureStride_ = stride;
  }

 private:
  Kind kind_;
  const ParameterLayout* layout_;
  const ccal_crspPair2D3DWeighted* records_;
  std::size_t count_;
  int intrinsicValues_;  // intrinsic values of the model (5, 8 or 11)
  std::shared_ptr<PoseTermRows> shared_;
  double* captureRows_ = nullptr;
  double* captureJacobian_ = nullptr;
  long captureStride_ = 0;
};

// The residual blocks of one refinement problem: kIntrinsicTerm, kPoseTerm and kImage under
// eNoDistortion/eRadial, kImage alone under eSineTan; kImage always first.
std::vector<std::unique_ptr<CameraResidualBlock>> refinementResidualBlocks(
    const ParameterLayout& layout, const ccal_crspPair2D3DWeighted* records, std::size_t count);

}  // namespace ccal::detail

#endif
