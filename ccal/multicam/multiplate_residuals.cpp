#include "ccal/multicam/multiplate_residuals.h"

#include "platform/core/camera_model/pose.h"
#include "platform/core/camera_model/residuals.h"

#include <algorithm>
#include <cstring>

namespace ccal::detail {

namespace {

using Offset = CameraOffset;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

CameraIntrinsics intrinsicsOfBlock(const double* block,
                                   tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  CameraIntrinsics v;
  v.tx = block[Offset::kTranslationX];
  v.ty = block[Offset::kTranslationY];
  v.sx = block[Offset::kScaleX];
  v.sy = block[Offset::kScaleY];
  v.skew = block[Offset::kSkew];
  v.lens.model = model;
  const int lens = lensValueCount(model);
  if (lens > 0) {
    v.lens.cx = block[Offset::kCenterX];
    v.lens.cy = block[Offset::kCenterY];
    for (int i = 0; i < lens; ++i)
      v.lens.values[i] = block[Offset::kLensFirst + i];
  }
  return v;
}

CameraIntrinsics intrinsicsOfValues(const tk_IntrinsicValues& values) {
  CameraIntrinsics v;
  v.tx = values.tx;
  v.ty = values.ty;
  v.sx = values.sx;
  v.sy = values.sy;
  v.skew = values.skew;
  v.lens.model = values.model;
  v.lens.cx = values.cx;
  v.lens.cy = values.cy;
  std::copy(values.lens, values.lens + 4, v.lens.values);
  return v;
}

long placementBlock(const ParameterLayout& layout, const ParameterLayout::Block& placement) {
  return layout.blockIndex(placement);
}

std::vector<long> parameterBlocksOf(const ParameterLayout& layout, long camera,
                                    const ParameterLayout::Block& placement) {
  std::vector<long> blocks{layout.blockIndex({ParameterLayout::Kind::kCamera, camera})};
  if (placement.kind != ParameterLayout::Kind::kNone)
    blocks.push_back(placementBlock(layout, placement));
  return blocks;
}

// Per parameter block, the values whose rows the residual feeds (empty: all of them).
std::vector<std::vector<bool>> feedValuesOf(MultiplateListResidual::Kind kind,
                                            const ParameterLayout& layout, std::size_t blocks) {
  using Kind = MultiplateListResidual::Kind;
  std::vector<std::vector<bool>> values(blocks);
  if (layout.poseOnly() || kind == Kind::kImage)
    return values;
  std::vector<bool>& camera = values[0];
  camera.assign(at(layout.cameraBlockSize()), kind == Kind::kIntrinsicTerm);
  for (long a = Offset::kQuatVar1; a < Offset::kCenterX; ++a)
    camera[at(a)] = kind == Kind::kPoseTerm;
  return values;
}

std::vector<bool> feedsOf(MultiplateListResidual::Kind kind, std::size_t blocks, bool feeds) {
  std::vector<bool> out(blocks, feeds);
  if (kind == MultiplateListResidual::Kind::kIntrinsicTerm && blocks > 1)
    out[1] = false;  // the intrinsic term feeds no placement rows
  return out;
}

std::vector<double> weightsOf(MultiplateListResidual::Kind kind, const tk_MultiplateList& list,
                              bool feeds) {
  // The image cost's F is twice its gradient (see the header).
  const double scale = kind == MultiplateListResidual::Kind::kImage && feeds ? 2.0 : 1.0;
  std::vector<double> weights(2 * list.count);
  for (std::size_t k = 0; k < list.count; ++k)
    weights[2 * k] = weights[2 * k + 1] = scale * list.records[k].w;
  return weights;
}

}  // namespace

MultiplateListResidual::MultiplateListResidual(Kind kind, const tk_MultiplateProblem& problem,
                                               long camera, ParameterLayout::Block placement,
                                               const tk_MultiplateList& list, bool feeds)
    : ResidualBlock(static_cast<long>(2 * list.count),
                    parameterBlocksOf(problem.layout, camera, placement),
                    feedsOf(kind, placement.kind == ParameterLayout::Kind::kNone ? 1 : 2, feeds),
                    weightsOf(kind, list, feeds),
                    feedValuesOf(kind, problem.layout,
                                 placement.kind == ParameterLayout::Kind::kNone ? 1 : 2)),
      kind_(kind),
      problem_(&problem),
      camera_(camera),
      placement_(placement),
      records_(list.records),
      count_(list.count) {
  if (problem.layout.poseOnly() && at(camera) < problem.fixedIntrinsics.size())
    fixed_ = intrinsicsOfValues(problem.fixedIntrinsics[at(camera)]);
}

bool MultiplateListResidual::Evaluate(const double* const* parameters, double* residuals,
                                      double** jacobians) const {
  const ParameterLayout& layout = problem_->layout;
  const double* cameraValues = parameters[0];
  const CameraModel model(layout.poseOnly() ? fixed_
                                            : intrinsicsOfBlock(cameraValues, layout.model()));
  const Pose camera = quaternionPose(layout.cameraUnitValIndices()[at(camera_)],
                                     cameraValues + layout.cameraPoseOffset());
  Pose placementPose;
  const Pose* placement = nullptr;
  if (placement_.kind == ParameterLayout::Kind::kZRotation) {
    placementPose = zRotationPose(parameters[1], problem_->heights[at(placement_.index)]);
    placement = &placementPose;
  } else if (placement_.kind == ParameterLayout::Kind::kArbitrary) {
    placementPose =
        quaternionPose(layout.arbitraryUnitValIndices()[at(placement_.index)], parameters[1]);
    placement = &placementPose;
  }

  const long cameraBlock = layout.cameraBlockSize();
  const long poseOffset = layout.cameraPoseOffset();
  const int intrinsicValues =
      layout.poseOnly() ? 0 : static_cast<int>(cameraBlock - kMaxPoseValues);
  const int placementValues = placement != nullptr ? placement->valueCount : 0;
  ResidualJacobian J;
  for (std::size_t k = 0; k < count_; ++k) {
    const ccal_crspPair2D3DWeighted& record = records_[k];
    double* r = residuals + 2 * k;
    double* cameraRows = jacobians != nullptr ? jacobians[0] + 2 * k * at(cameraBlock) : nullptr;
    double* placementRows =
        jacobians != nullptr && placement != nullptr ? jacobians[1] + 2 * k * at(placementValues)
                                                     : nullptr;
    if (record.w == 0.0) {  // contributes nothing
      r[0] = r[1] = 0.0;
      if (cameraRows != nullptr)
        std::fill(cameraRows, cameraRows + 2 * cameraBlock, 0.0);
      if (placementRows != nullptr)
        std::fill(placementRows, placementRows + 2 * placementValues, 0.0);
      continue;
    }
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    ResidualJacobian* jacobian = jacobians != nullptr ? &J : nullptr;
    switch (kind_) {
      case Kind::kIntrinsicTerm:
        intrinsicTermResidual(model, camera, placement, image, P, r, jacobian);
        break;
      case Kind::kPoseTerm:
        poseTermResidual(model, camera, placement, image, P, r, jacobian);
        break;
      case Kind::kImage:
        imageResidual(model, camera, placement, image, P, r, jacobian);
        break;
    }
    if (jacobian == nullptr)
      continue;
    for (int row = 0; row < 2; ++row) {
      double* out = cameraRows + row * cameraBlock;
      for (int i = 0; i < intrinsicValues; ++i)
        out[intrinsicBlockOffset(i)] = J.byIntrinsics[row][i];
      for (int c = 0; c < kMaxPoseValues; ++c)
        out[poseOffset + c] = J.byCamera[row][c];
      if (placementRows != nullptr)
        for (int c = 0; c < placementValues; ++c)
          placementRows[row * placementValues + c] = J.byPlacement[row][c];
    }
  }
  return true;
}

void MultiplateEvaluation::reset(const tk_MultiplateProblem& problem) {
  using Kind = MultiplateListResidual::Kind;
  using Block = ParameterLayout::Block;
  problem_ = &problem;
  costValid_ = false;
  blocks_.clear();
  gradient_ = std::make_unique<GradientAssembler>(problem.layout);
  image_.reset();
  const ParameterLayout& layout = problem.layout;
  const bool poseOnly = layout.poseOnly();
  imageFeeds_ = !poseOnly && layout.model() == tk2XformCalib2Defs::eSineTan;
  if (!imageFeeds_)
    image_ = std::make_unique<GradientAssembler>(problem.layout);
  const long nC = layout.cameras();
  const auto addList = [&](long c, const Block& placement, const tk_MultiplateList& list) {
    if (list.count == 0)
      return;
    const auto add = [&](Kind kind, bool feeds, GradientAssembler& assembler) {
      blocks_.push_back(
          std::make_unique<MultiplateListResidual>(kind, problem, c, placement, list, feeds));
      assembler.add(*blocks_.back());
    };
    if (imageFeeds_) {
      add(Kind::kImage, true, *gradient_);
      return;
    }
    if (!poseOnly)
      add(Kind::kIntrinsicTerm, true, *gradient_);
    add(Kind::kPoseTerm, true, *gradient_);
    add(Kind::kImage, false, *image_);
  };
  for (long c = 0; c < nC; ++c) {
    for (long j = 0; j < layout.zRotationPlacements(); ++j)
      addList(c,
              j == 0 ? Block{} : Block{ParameterLayout::Kind::kZRotation, j},
              problem.zLists[at(j * nC + c)]);
    for (long j = 0; j < layout.arbitraryPlacements(); ++j)
      addList(c, Block{ParameterLayout::Kind::kArbitrary, j}, problem.aLists[at(j * nC + c)]);
  }
  active_.clear();
  for (const auto& block : blocks_)
    if (block->feedsAnything())
      active_.push_back(true);
}

void MultiplateEvaluation::function(const tkNMMatrix& x, tkNMMatrix& f, long index) {
  costValid_ = false;
  if (index >= 0) {
    const ParameterLayout::Block selected = problem_->layout.blockOf(index);
    std::size_t k = 0;
    for (const auto& block : blocks_) {
      if (!block->feedsAnything())
        continue;
      const ParameterLayout::Block& placement = block->placement();
      active_[k++] = selected.kind == ParameterLayout::Kind::kNone ||
                     (selected.kind == ParameterLayout::Kind::kCamera
                          ? block->camera() == selected.index
                          : placement.kind == selected.kind && placement.index == selected.index);
    }
    gradient_->assemble(x.data(), f.data(), nullptr, nullptr, &active_);
    return;
  }
  if (imageFeeds_) {
    gradient_->assemble(x.data(), f.data(), nullptr, &cost_);
    cost_ *= 0.5;  // the image blocks carry doubled weights
  } else {
    gradient_->assemble(x.data(), f.data(), nullptr, nullptr);
    cost_ = imageCost(x.data());
  }
  costX_.assign(x.data(), x.data() + x.rows());
  costValid_ = true;
}

void MultiplateEvaluation::jacobian(const tkNMMatrix& x, tkNMMatrix& k) {
  f_.resize(at(x.rows()));
  gradient_->assemble(x.data(), f_.data(), &k, nullptr);
}

double MultiplateEvaluation::imageCost(const double* x) {
  double cost = 0.0;
  f_.resize(at(problem_->size()));
  if (imageFeeds_) {
    gradient_->assemble(x, f_.data(), nullptr, &cost);
    return 0.5 * cost;
  }
  image_->assemble(x, f_.data(), nullptr, &cost);
  return cost;
}

double MultiplateEvaluation::cost(const tkNMMatrix& x) {
  if (costValid_ && static_cast<long>(costX_.size()) == x.rows() &&
      std::equal(costX_.begin(), costX_.end(), x.data()))
    return cost_;
  return imageCost(x.data());
}

}  // namespace ccal::detail
