#include "ccal/problem/multiplate_residuals.h"

#include "platform/core/camera_model/residuals.h"

#include <tk/exception.h>

#include <algorithm>
#include <cstring>

namespace ccal::detail {

namespace {

using Offset = CameraOffset;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
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

using Form = MultiplateListResidual::Form;

Form formOf(const ParameterLayout& layout, bool imageOnly) {
  if (imageOnly)
    return Form::kImage;
  if (layout.poseOnly())
    return Form::kPoseTerms;
  return layout.model() == tk2XformCalib2Defs::eSineTan ? Form::kImage : Form::kMixedTerms;
}

// Rows per observation: two per residual kind.
long rowsPerPoint(Form form) {
  return form == Form::kMixedTerms ? 6 : form == Form::kPoseTerms ? 4 : 2;
}

std::vector<double> weightsOf(Form form, const tk_MultiplateList& list) {
  // The image cost's F is twice its gradient (see the header).
  const double scale = form == Form::kImage ? 2.0 : 1.0;
  const std::size_t kinds = at(rowsPerPoint(form) / 2);
  std::vector<double> weights(2 * list.count * kinds);
  for (std::size_t g = 0; g < kinds; ++g)
    for (std::size_t k = 0; k < list.count; ++k)
      weights[2 * (g * list.count + k)] = weights[2 * (g * list.count + k) + 1] =
          scale * list.records[k].w;
  return weights;
}

// The camera block's values a mixed-term group feeds: the pose values (pose term) or all the
// others (intrinsic term).
std::vector<bool> cameraValuesFed(const ParameterLayout& layout, bool pose) {
  std::vector<bool> fed(at(layout.cameraBlockSize()));
  for (std::size_t a = 0; a < fed.size(); ++a)
    fed[a] = (static_cast<long>(a) >= Offset::kQuatVar1 &&
              static_cast<long>(a) < Offset::kCenterX) == pose;
  return fed;
}

// The row groups of the stacked forms: [intrinsic term,] pose term, image residual.
std::vector<ResidualBlock::RowGroup> groupsOf(Form form, const ParameterLayout& layout,
                                              std::size_t blocks, long rows) {
  using Group = ResidualBlock::RowGroup;
  std::vector<Group> groups;
  if (form == Form::kMixedTerms) {
    Group intrinsic;
    intrinsic.rows = rows;
    intrinsic.feeds.assign(blocks, false);
    intrinsic.feeds[0] = true;  // no placement rows
    intrinsic.feedValues.resize(blocks);
    intrinsic.feedValues[0] = cameraValuesFed(layout, false);
    intrinsic.countsInCost = false;
    groups.push_back(intrinsic);
  }
  Group pose;
  pose.rows = rows;
  pose.feeds.assign(blocks, true);
  if (form == Form::kMixedTerms) {
    pose.feedValues.resize(blocks);
    pose.feedValues[0] = cameraValuesFed(layout, true);
  }
  pose.countsInCost = false;
  groups.push_back(pose);
  Group image;
  image.rows = rows;
  image.feeds.assign(blocks, false);
  groups.push_back(image);
  return groups;
}

}  // namespace

MultiplateListResidual::MultiplateListResidual(const tk_MultiplateProblem& problem, long camera,
                                               ParameterLayout::Block placement,
                                               const tk_MultiplateList& list, bool imageOnly)
    : ResidualBlock(static_cast<long>(list.count) * rowsPerPoint(formOf(problem.layout, imageOnly)),
                    parameterBlocksOf(problem.layout, camera, placement),
                    std::vector<bool>(placement.kind == ParameterLayout::Kind::kNone ? 1 : 2, true),
                    weightsOf(formOf(problem.layout, imageOnly), list)),
      form_(formOf(problem.layout, imageOnly)),
      problem_(&problem),
      camera_(camera),
      placement_(placement),
      records_(list.records),
      count_(list.count) {
  if (form_ != Form::kImage)
    rowGroups(groupsOf(form_, problem.layout, parameterBlocks().size(),
                       static_cast<long>(2 * list.count)));
  if (problem.layout.poseOnly() && at(camera) < problem.fixedIntrinsics.size())
    fixed_ = tfModelIntrinsics(problem.fixedIntrinsics[at(camera)]);
}

bool MultiplateListResidual::Evaluate(const double* const* parameters, double* residuals,
                                      double** jacobians) const {
  const ParameterLayout& layout = problem_->layout;
  const double* cameraValues = parameters[0];
  const CameraModel model(
      layout.poseOnly() ? fixed_
                        : ParameterLayout::cameraIntrinsicsOfBlock(cameraValues, layout.model()));
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

  // The image rows alone: every evaluation of the stacked forms under Rows::kImage (no
  // derivatives), and the kImage form's without derivatives.
  if (form_ == Form::kImage ? jacobians == nullptr : rows_ == Rows::kImage) {
    imageRows(model, camera, placement, residuals);
    return true;
  }
  const int intrinsicValues =
      layout.poseOnly() ? 0 : static_cast<int>(layout.cameraBlockSize() - kMaxPoseValues);
  // One loop per count of intrinsic values, so that the row copies have fixed lengths.
  switch (intrinsicValues) {
    case 0:
      evaluatePoints<0>(model, camera, placement, residuals, jacobians);
      break;
    case kCx:  // eNoDistortion: no centre
      evaluatePoints<kCx>(model, camera, placement, residuals, jacobians);
      break;
    case kLensValue0 + 1:
      evaluatePoints<kLensValue0 + 1>(model, camera, placement, residuals, jacobians);
      break;
    case kIntrinsicValues:
      evaluatePoints<kIntrinsicValues>(model, camera, placement, residuals, jacobians);
      break;
    default:
      throw tkInvariantFailure(L"MultiplateListResidual: a camera block of unknown size");
  }
  // The stacked forms' image rows come from the one loop of the image rows alone.
  if (form_ != Form::kImage) {
    if (rows_ == Rows::kAll) {
      imageRows(model, camera, placement, residuals);
    } else {
      double* image = residuals + (at(rowsPerPoint(form_) / 2) - 1) * 2 * count_;
      std::fill(image, image + 2 * count_, 0.0);
    }
  }
  return true;
}

namespace {

// Writes rows row0 and row0 + 1 of one residual kind from J: the camera block holds the first
// intrinsic values (up to kCx), the pose, then the others (intrinsicBlockOffset; the pose-only
// block: the pose alone); the placement block its placementValues values (3 or 6).
template <int kIntrinsic>
CCAL_FORCE_INLINE void writeRows(const ResidualJacobian& J, std::size_t row0, double* cameraRows,
                                 double* placementRows, int placementValues) {
  constexpr int kLeading = kIntrinsic < kCx ? kIntrinsic : kCx;  // also the pose's offset
  constexpr std::size_t kCameraBlock = kIntrinsic + kMaxPoseValues;
  for (std::size_t row = 0; row < 2; ++row) {
    double* out = cameraRows + (row0 + row) * kCameraBlock;
    const double* intrinsic = J.byIntrinsics[row];
    for (int i = 0; i < kLeading; ++i)
      out[i] = intrinsic[i];
    for (int i = 0; i < kMaxPoseValues; ++i)
      out[kLeading + i] = J.byCamera[row][i];
    for (int i = kCx; i < kIntrinsic; ++i)
      out[intrinsicBlockOffset(i)] = intrinsic[i];
    if (placementRows == nullptr)
      continue;
    double* place = placementRows + (row0 + row) * at(placementValues);
    if (placementValues == kMaxPoseValues)
      for (int i = 0; i < kMaxPoseValues; ++i)
        place[i] = J.byPlacement[row][i];
    else
      for (int i = 0; i < 3; ++i)
        place[i] = J.byPlacement[row][i];
  }
}

}  // namespace

template <int kIntrinsic>
void MultiplateListResidual::evaluatePoints(const CameraModel& model, const Pose& camera,
                                            const Pose* placement, double* residuals,
                                            double** jacobians) const {
#if CCAL_WIDE_KERNELS
  if (form_ != Form::kImage && wideKernels())
    return evaluatePointsWide<kIntrinsic>(model, camera, placement, residuals, jacobians);
#endif
  evaluatePointsWith<kIntrinsic>(model, camera, placement, residuals, jacobians);
}

#if CCAL_WIDE_KERNELS
template <int kIntrinsic>
CCAL_WIDE_TARGET void MultiplateListResidual::evaluatePointsWide(const CameraModel& model,
                                                                 const Pose& camera,
                                                                 const Pose* placement,
                                                                 double* residuals,
                                                                 double** jacobians) const {
  evaluatePointsWith<kIntrinsic>(model, camera, placement, residuals, jacobians);
}
#endif

template <int kIntrinsic>
CCAL_FORCE_INLINE void MultiplateListResidual::evaluatePointsWith(const CameraModel& model,
                                                                  const Pose& camera,
                                                                  const Pose* placement,
                                                                  double* residuals,
                                                                  double** jacobians) const {
  constexpr std::size_t kCameraBlock = kIntrinsic + kMaxPoseValues;
  const int placementValues = placement != nullptr ? placement->valueCount : 0;
  // Row offsets of the kinds: the first kind's rows of point k are 2k, 2k + 1.
  const std::size_t kindRows = 2 * count_;
  const std::size_t kinds = at(rowsPerPoint(form_) / 2);
  double* placementRows = jacobians != nullptr && placement != nullptr ? jacobians[1] : nullptr;
  const auto write = [&](const ResidualJacobian& J, std::size_t row0) CCAL_FORCE_INLINE_LAMBDA {
    writeRows<kIntrinsic>(J, row0, jacobians[0], placementRows, placementValues);
  };
  ResidualJacobian J, poseJ;
  for (std::size_t k = 0; k < count_; ++k) {
    const ccal_crspPair2D3DWeighted& record = records_[k];
    if (record.w == 0.0) {  // contributes nothing
      for (std::size_t g = 0; g < kinds; ++g) {
        const std::size_t row0 = g * kindRows + 2 * k;
        residuals[row0] = residuals[row0 + 1] = 0.0;
        if (jacobians != nullptr && (form_ == Form::kImage || g + 1 < kinds)) {  // fed rows
          std::fill(jacobians[0] + row0 * kCameraBlock, jacobians[0] + (row0 + 2) * kCameraBlock,
                    0.0);
          if (placement != nullptr)
            std::fill(jacobians[1] + row0 * at(placementValues),
                      jacobians[1] + (row0 + 2) * at(placementValues), 0.0);
        }
      }
      continue;
    }
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    double* r = residuals + 2 * k;
    switch (form_) {
      case Form::kImage:
        imageResidual(model, camera, placement, image, P, r, jacobians != nullptr ? &J : nullptr);
        if (jacobians != nullptr)
          write(J, 2 * k);
        break;
      case Form::kMixedTerms:
        mixedTermResiduals(model, camera, placement, image, P, r,
                           jacobians != nullptr ? &J : nullptr, r + kindRows,
                           jacobians != nullptr ? &poseJ : nullptr);
        if (jacobians != nullptr) {
          write(J, 2 * k);
          write(poseJ, kindRows + 2 * k);
        }
        break;
      case Form::kPoseTerms:
        mixedTermResiduals(model, camera, placement, image, P, nullptr, nullptr, r,
                           jacobians != nullptr ? &poseJ : nullptr);
        if (jacobians != nullptr)
          write(poseJ, 2 * k);
        break;
    }
  }
}

void MultiplateListResidual::imageRows(const CameraModel& model, const Pose& camera,
                                       const Pose* placement, double* residuals) const {
  // The image rows are the last kind's; the others are not written.
  double* out = residuals + (at(rowsPerPoint(form_) / 2) - 1) * 2 * count_;
  const auto single = [&](std::size_t k) {
    const ccal_crspPair2D3DWeighted& record = records_[k];
    double* r = out + 2 * k;
    if (record.w == 0.0) {  // contributes nothing
      r[0] = r[1] = 0.0;
      return;
    }
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    imageResidual(model, camera, placement, image, P, r, nullptr);
  };
  std::size_t k = 0;
  for (; k + 1 < count_; k += 2) {
    const ccal_crspPair2D3DWeighted& a = records_[k];
    const ccal_crspPair2D3DWeighted& b = records_[k + 1];
    if (a.w != 0.0 && b.w != 0.0) {
      const double imageA[2] = {a.p.x, a.p.y}, imageB[2] = {b.p.x, b.p.y};
      const double pointA[3] = {a.P.x, a.P.y, a.P.z}, pointB[3] = {b.P.x, b.P.y, b.P.z};
      const double* const images[2] = {imageA, imageB};
      const double* const points[2] = {pointA, pointB};
      double* const r[2] = {out + 2 * k, out + 2 * k + 2};
      if (imageResidualPair(model, camera, placement, images, points, r))
        continue;
    }
    single(k);
    single(k + 1);
  }
  if (k < count_)
    single(k);
}

void MultiplateEvaluation::reset(const tk_MultiplateProblem& problem) {
  using Block = ParameterLayout::Block;
  problem_ = &problem;
  kept_ = false;
  keptK_ = false;
  kTaken_ = true;
  accepted_ = ~0U;
  blocks_.clear();
  assembler_ = std::make_unique<GradientAssembler>(problem.layout);
  const ParameterLayout& layout = problem.layout;
  costScale_ = formOf(layout, false) == Form::kImage ? 0.5 : 1.0;
  const long nC = layout.cameras();
  const auto addList = [&](long c, const Block& placement, const tk_MultiplateList& list) {
    if (list.count == 0)
      return;
    blocks_.push_back(std::make_unique<MultiplateListResidual>(problem, c, placement, list));
    assembler_->add(*blocks_.back());
  };
  for (long c = 0; c < nC; ++c) {
    for (long j = 0; j < layout.zRotationPlacements(); ++j)
      addList(c, j == 0 ? Block{} : Block{ParameterLayout::Kind::kZRotation, j},
              problem.zLists[at(j * nC + c)]);
    for (long j = 0; j < layout.arbitraryPlacements(); ++j)
      addList(c, Block{ParameterLayout::Kind::kArbitrary, j}, problem.aLists[at(j * nC + c)]);
  }
  active_.assign(blocks_.size(), true);
}

bool MultiplateEvaluation::keptAt(const tkNMMatrix& x) const {
  return kept_ && static_cast<long>(keptX_.size()) == x.rows() &&
         std::equal(keptX_.begin(), keptX_.end(), x.data());
}

void MultiplateEvaluation::function(const tkNMMatrix& x, tkNMMatrix& f, long index) {
  if (index >= 0) {
    const ParameterLayout::Block selected = problem_->layout.blockOf(index);
    for (std::size_t k = 0; k < blocks_.size(); ++k) {
      const ParameterLayout::Block& placement = blocks_[k]->placement();
      active_[k] = selected.kind == ParameterLayout::Kind::kNone ||
                   (selected.kind == ParameterLayout::Kind::kCamera
                        ? blocks_[k]->camera() == selected.index
                        : placement.kind == selected.kind && placement.index == selected.index);
    }
    assembler_->assemble(x.data(), f.data(), nullptr, nullptr, &active_);
    return;
  }
  // K comes along while trial points are being accepted (the Jacobian at such a point is asked
  // for next): after two accepted trials in a row. Otherwise (rejections, or rejections and
  // acceptances alternating) a trial computes F and E only, and the Jacobian its own pass.
  accepted_ = (accepted_ << 1U) | (kTaken_ ? 1U : 0U);
  const bool withK = (accepted_ & 3U) == 3U;
  kTaken_ = false;
  kept_ = false;
  assembler_->assemble(x.data(), f.data(), withK ? &k_ : nullptr, &cost_);
  cost_ *= costScale_;
  keptX_.assign(x.data(), x.data() + x.rows());
  kept_ = true;
  keptK_ = withK;
}

void MultiplateEvaluation::jacobian(const tkNMMatrix& x, tkNMMatrix& k) {
  kTaken_ = true;
  if (keptK_ && keptAt(x)) {
    assembler_->copyDeclared(k_, k);
    return;
  }
  // K alone: the cost rows are not needed (and are back on whatever the assembly throws).
  const RowsScope<MultiplateEvaluation> guard(*this, MultiplateListResidual::Rows::kTerms);
  assembler_->assemble(x.data(), nullptr, &k, nullptr);
}

void MultiplateEvaluation::rows(MultiplateListResidual::Rows rows) {
  for (const auto& block : blocks_)
    block->rows(rows);
}

double MultiplateEvaluation::cost(const tkNMMatrix& x) {
  if (keptAt(x))
    return cost_;
  // E alone: the image rows without derivatives.
  const RowsScope<MultiplateEvaluation> guard(*this, MultiplateListResidual::Rows::kImage);
  double cost = 0.0;
  assembler_->assemble(x.data(), nullptr, nullptr, &cost);
  return costScale_ * cost;
}

}  // namespace ccal::detail
