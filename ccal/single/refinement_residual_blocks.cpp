#include "ccal/single/refinement_residual_blocks.h"

#include "platform/core/camera_model/pose.h"
#include "platform/core/camera_model/residuals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace ccal::detail {

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

int intrinsicValueCount(Model model) {
  return model == tk2XformCalib2Defs::eSineTan  ? kLensValue0 + 4
         : model == tk2XformCalib2Defs::eRadial ? kLensValue0 + 1
                                                : kCx;
}

bool feedsRows(CameraResidualBlock::Kind kind, Model model) {
  if (model == tk2XformCalib2Defs::eSineTan)
    return kind == CameraResidualBlock::Kind::kImage;
  return kind != CameraResidualBlock::Kind::kImage;
}

std::vector<double> rowWeights(CameraResidualBlock::Kind kind, Model model,
                               const ccal_crspPair2D3DWeighted* records, std::size_t count) {
  const double factor =
      kind == CameraResidualBlock::Kind::kImage && model == tk2XformCalib2Defs::eSineTan ? 2.0
                                                                                         : 1.0;
  std::vector<double> weights(2 * count);
  for (std::size_t k = 0; k < count; ++k)
    weights[2 * k] = weights[2 * k + 1] = factor * records[k].w;
  return weights;
}

}  // namespace

CameraResidualBlock::CameraResidualBlock(Kind kind, const ParameterLayout& layout,
                                         const ccal_crspPair2D3DWeighted* records,
                                         std::size_t count, std::shared_ptr<PoseTermRows> shared)
    : ResidualBlock(2 * static_cast<long>(count), {0}, {feedsRows(kind, layout.model())},
                    rowWeights(kind, layout.model(), records, count)),
      kind_(kind),
      layout_(&layout),
      records_(records),
      count_(count),
      intrinsicValues_(intrinsicValueCount(layout.model())),
      shared_(std::move(shared)) {
  const long size = layout.cameraBlockSize();
  if (shared_ != nullptr) {
    shared_->valid = false;
    shared_->parameters.assign(static_cast<std::size_t>(size), 0.0);
    shared_->residuals.assign(2 * count, 0.0);
    shared_->jacobian.assign(2 * count * static_cast<std::size_t>(size), 0.0);
  }
  if (kind == Kind::kImage) {
    countsInCost(true);
    return;
  }
  countsInCost(false);
  std::vector<bool> mask(static_cast<std::size_t>(size), kind == Kind::kIntrinsicTerm);
  for (long a = CameraOffset::kQuatVar1; a < CameraOffset::kCenterX; ++a)
    mask[static_cast<std::size_t>(a)] = kind == Kind::kPoseTerm;
  feedValues(0, mask);
}

namespace {

// The two rows of one point's Jacobian in the camera block's order (the block holds exactly the
// model's intrinsic values and the six pose values, so every entry is written).
void scatterRows(const ResidualJacobian& point, int intrinsicValues, long size, double* rows) {
  for (int row = 0; row < 2; ++row) {
    double* out = rows + row * size;
    for (int i = 0; i < intrinsicValues; ++i)
      out[intrinsicBlockOffset(i)] = point.byIntrinsics[row][i];
    for (int c = 0; c < 6; ++c)
      out[CameraOffset::kQuatVar1 + c] = point.byCamera[row][c];
  }
}

}  // namespace

bool CameraResidualBlock::Evaluate(const double* const* parameters, double* residuals,
                                   double** jacobians) const {
  const Model model = layout_->model();
  const double* block = parameters[0];
  const int held = layout_->cameraUnitValIndices()[0];
  const long size = layout_->cameraBlockSize();
  const std::size_t values = static_cast<std::size_t>(size);
  // The Jacobian is read only where this block feeds rows.
  double* J = feeds(0) && jacobians != nullptr ? jacobians[0] : nullptr;
  if (kind_ == Kind::kPoseTerm && shared_ != nullptr && shared_->valid && shared_->held == held &&
      (J == nullptr || shared_->withJacobian) &&
      std::memcmp(shared_->parameters.data(), block, values * sizeof(double)) == 0) {
    std::copy(shared_->residuals.begin(), shared_->residuals.end(), residuals);
    if (J != nullptr)
      std::copy(shared_->jacobian.begin(), shared_->jacobian.end(), J);
    return true;
  }
  PoseTermRows* poseRows = kind_ == Kind::kIntrinsicTerm ? shared_.get() : nullptr;
  if (poseRows != nullptr)
    poseRows->valid = false;
  const CameraModel camera(ParameterLayout::cameraIntrinsicsOfBlock(block, model));
  const Pose pose = quaternionPose(held, block + CameraOffset::kQuatVar1);
  const bool capture = captureRows_ != nullptr;
  const bool wanted = J != nullptr || capture;
  ResidualJacobian point, posePoint;
  for (std::size_t k = 0; k < count_; ++k) {
    const ccal_crspPair2D3DWeighted& record = records_[k];
    const long row0 = 2 * static_cast<long>(k);
    double* r = residuals + row0;
    double* rowX = J != nullptr ? J + row0 * size : nullptr;
    double* poseR = poseRows != nullptr ? poseRows->residuals.data() + row0 : nullptr;
    double* poseX =
        poseRows != nullptr && J != nullptr ? poseRows->jacobian.data() + row0 * size : nullptr;
    r[0] = r[1] = 0.0;
    if (rowX != nullptr)
      std::fill(rowX, rowX + 2 * size, 0.0);
    if (poseR != nullptr)
      poseR[0] = poseR[1] = 0.0;
    if (poseX != nullptr)
      std::fill(poseX, poseX + 2 * size, 0.0);
    if (capture) {
      captureRows_[row0] = captureRows_[row0 + 1] = 0.0;
      for (long i = 0; i < size; ++i)
        captureJacobian_[row0 + i * captureStride_] =
            captureJacobian_[row0 + 1 + i * captureStride_] = 0.0;
    }
    if (record.w == 0.0)
      continue;  // adds exactly nothing, even where the residuals are not finite
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    ResidualJacobian* pointJacobian = wanted ? &point : nullptr;
    ResidualStatus status;
    if (kind_ == Kind::kImage) {
      status = imageResidual(camera, pose, nullptr, image, P, r, pointJacobian);
    } else if (kind_ == Kind::kPoseTerm) {
      status = poseTermResidual(camera, pose, nullptr, image, P, r, pointJacobian);
    } else if (poseRows == nullptr) {
      status = intrinsicTermResidual(camera, pose, nullptr, image, P, r, pointJacobian);
    } else {
      // kAtDepthZero: both terms 0; kNoRay: the pose term 0, the intrinsic term evaluated.
      const ResidualStatus both =
          mixedTermResiduals(camera, pose, nullptr, image, P, r, pointJacobian, poseR,
                             poseX != nullptr ? &posePoint : nullptr, nullptr);
      status = both == ResidualStatus::kAtDepthZero ? both : ResidualStatus::kOk;
      if (poseX != nullptr && both == ResidualStatus::kOk)
        scatterRows(posePoint, intrinsicValues_, size, poseX);
    }
    if (status != ResidualStatus::kOk || !wanted)
      continue;
    if (rowX != nullptr)
      scatterRows(point, intrinsicValues_, size, rowX);
    if (capture) {
      double byBlock[2 * CameraOffset::kMaxSize];
      scatterRows(point, intrinsicValues_, size, byBlock);
      const double root = std::sqrt(record.w);
      captureRows_[row0] = root * r[0];
      captureRows_[row0 + 1] = root * r[1];
      for (long i = 0; i < size; ++i) {
        captureJacobian_[row0 + i * captureStride_] = root * byBlock[i];
        captureJacobian_[row0 + 1 + i * captureStride_] = root * byBlock[size + i];
      }
    }
  }
  if (poseRows != nullptr) {
    std::copy(block, block + size, poseRows->parameters.begin());
    poseRows->held = held;
    poseRows->withJacobian = J != nullptr;
    poseRows->valid = true;
  }
  return true;
}

std::vector<std::unique_ptr<CameraResidualBlock>> refinementResidualBlocks(
    const ParameterLayout& layout, const ccal_crspPair2D3DWeighted* records, std::size_t count) {
  using Kind = CameraResidualBlock::Kind;
  std::vector<std::unique_ptr<CameraResidualBlock>> blocks;
  blocks.push_back(std::make_unique<CameraResidualBlock>(Kind::kImage, layout, records, count));
  if (layout.model() != tk2XformCalib2Defs::eSineTan) {
    const auto poseTerms = std::make_shared<CameraResidualBlock::PoseTermRows>();
    blocks.push_back(std::make_unique<CameraResidualBlock>(Kind::kIntrinsicTerm, layout, records,
                                                           count, poseTerms));
    blocks.push_back(
        std::make_unique<CameraResidualBlock>(Kind::kPoseTerm, layout, records, count, poseTerms));
  }
  return blocks;
}

}  // namespace ccal::detail
