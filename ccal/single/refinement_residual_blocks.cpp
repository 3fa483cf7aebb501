#include "ccal/single/refinement_residual_blocks.h"

#include "platform/core/camera_model/pose.h"
#include "platform/core/camera_model/residuals.h"

#include <cmath>

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

CameraIntrinsics intrinsicsOfCameraBlock(const double* block, Model model) {
  CameraIntrinsics v;
  v.tx = block[CameraOffset::kTranslationX];
  v.ty = block[CameraOffset::kTranslationY];
  v.sx = block[CameraOffset::kScaleX];
  v.sy = block[CameraOffset::kScaleY];
  v.skew = block[CameraOffset::kSkew];
  if (model == tk2XformCalib2Defs::eNoDistortion)
    return v;
  v.lens.model =
      model == tk2XformCalib2Defs::eRadial ? CCAL_DISTORTION_RADIAL : CCAL_DISTORTION_SINE_TAN;
  v.lens.cx = block[CameraOffset::kCenterX];
  v.lens.cy = block[CameraOffset::kCenterY];
  for (int i = 0; i < intrinsicValueCount(model) - kLensValue0; ++i)
    v.lens.values[i] = block[CameraOffset::kLensFirst + i];
  return v;
}

CameraResidualBlock::CameraResidualBlock(Kind kind, const ParameterLayout& layout,
                                         const ccal_crspPair2D3DWeighted* records,
                                         std::size_t count)
    : ResidualBlock(2 * static_cast<long>(count), {0}, {feedsRows(kind, layout.model())},
                    rowWeights(kind, layout.model(), records, count)),
      kind_(kind),
      layout_(&layout),
      records_(records),
      count_(count),
      intrinsicValues_(intrinsicValueCount(layout.model())) {
  const long size = layout.cameraBlockSize();
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

bool CameraResidualBlock::Evaluate(const double* const* parameters, double* residuals,
                                   double** jacobians) const {
  const Model model = layout_->model();
  const double* block = parameters[0];
  const CameraModel camera(intrinsicsOfCameraBlock(block, model));
  const Pose pose =
      quaternionPose(layout_->cameraUnitValIndices()[0], block + CameraOffset::kQuatVar1);
  const long size = layout_->cameraBlockSize();
  // The Jacobian is read only where this block feeds rows.
  double* J = feeds(0) && jacobians != nullptr ? jacobians[0] : nullptr;
  ResidualJacobian point;
  for (std::size_t k = 0; k < count_; ++k) {
    const ccal_crspPair2D3DWeighted& record = records_[k];
    double* r = residuals + 2 * k;
    double* rowX = J != nullptr ? J + 2 * static_cast<long>(k) * size : nullptr;
    r[0] = r[1] = 0.0;
    if (rowX != nullptr)
      std::fill(rowX, rowX + 2 * size, 0.0);
    const bool capture = captureRows_ != nullptr;
    const long captureRow = 2 * static_cast<long>(k);
    if (capture) {
      captureRows_[captureRow] = captureRows_[captureRow + 1] = 0.0;
      for (long i = 0; i < size; ++i)
        captureJacobian_[captureRow + i * captureStride_] =
            captureJacobian_[captureRow + 1 + i * captureStride_] = 0.0;
    }
    if (record.w == 0.0)
      continue;  // adds exactly nothing, even where the residuals are not finite
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    ResidualJacobian* wanted = rowX != nullptr || capture ? &point : nullptr;
    ResidualStatus status;
    switch (kind_) {
      case Kind::kImage:
        status = imageResidual(camera, pose, nullptr, image, P, r, wanted);
        break;
      case Kind::kIntrinsicTerm:
        status = intrinsicTermResidual(camera, pose, nullptr, image, P, r, wanted);
        break;
      default:
        status = poseTermResidual(camera, pose, nullptr, image, P, r, wanted);
        break;
    }
    if (status != ResidualStatus::kOk || wanted == nullptr)
      continue;
    double byBlock[2][CameraOffset::kMaxSize] = {};
    for (int row = 0; row < 2; ++row) {
      for (int i = 0; i < intrinsicValues_; ++i)
        byBlock[row][intrinsicBlockOffset(i)] = point.byIntrinsics[row][i];
      for (int c = 0; c < 6; ++c)
        byBlock[row][CameraOffset::kQuatVar1 + c] = point.byCamera[row][c];
    }
    if (rowX != nullptr)
      for (int row = 0; row < 2; ++row)
        std::copy(byBlock[row], byBlock[row] + size, rowX + row * size);
    if (capture) {
      const double root = std::sqrt(record.w);
      captureRows_[captureRow] = root * r[0];
      captureRows_[captureRow + 1] = root * r[1];
      for (long i = 0; i < size; ++i) {
        captureJacobian_[captureRow + i * captureStride_] = root * byBlock[0][i];
        captureJacobian_[captureRow + 1 + i * captureStride_] = root * byBlock[1][i];
      }
    }
  }
  return true;
}

std::vector<std::unique_ptr<CameraResidualBlock>> refinementResidualBlocks(
    const ParameterLayout& layout, const ccal_crspPair2D3DWeighted* records, std::size_t count) {
  using Kind = CameraResidualBlock::Kind;
  std::vector<std::unique_ptr<CameraResidualBlock>> blocks;
  blocks.push_back(std::make_unique<CameraResidualBlock>(Kind::kImage, layout, records, count));
  if (layout.model() != tk2XformCalib2Defs::eSineTan) {
    blocks.push_back(
        std::make_unique<CameraResidualBlock>(Kind::kIntrinsicTerm, layout, records, count));
    blocks.push_back(
        std::make_unique<CameraResidualBlock>(Kind::kPoseTerm, layout, records, count));
  }
  return blocks;
}

}  // namespace ccal::detail
