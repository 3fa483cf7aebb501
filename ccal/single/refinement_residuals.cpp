#include "ccal/single/refinement_residuals.h"

#include "platform/core/camera_model/residuals.h"

namespace ccal::detail {

namespace {

using Model = RefinementResiduals::Model;
constexpr int kMax = RefinementResiduals::kMaxSize;
constexpr int kPoseFirst = RefinementResiduals::kPoseFirst;
constexpr int kPoseLast = kPoseFirst + 5;

// Σ w·Jᵀ·r and the upper triangle of Σ w·Jᵀ·J of one residual kind, in camera-block order.
struct NormalSums {
  double g[kMax] = {};
  double h[kMax][kMax] = {};
};

void accumulate(NormalSums& s, const double J[2][kMax], const double r[2], double w, int n,
                bool withCurvature) {
  for (int i = 0; i < n; ++i) {
    const double a0 = w * J[0][i], a1 = w * J[1][i];
    s.g[i] += a0 * r[0] + a1 * r[1];
    if (!withCurvature || (a0 == 0.0 && a1 == 0.0))
      continue;
    for (int j = i; j < n; ++j)
      s.h[i][j] += a0 * J[0][j] + a1 * J[1][j];
  }
}

std::int32_t lensModelOf(Model model) {
  return model == tk2XformCalib2Defs::eRadial    ? CCAL_DISTORTION_RADIAL
         : model == tk2XformCalib2Defs::eSineTan ? CCAL_DISTORTION_SINE_TAN
                                                 : CCAL_DISTORTION_NONE;
}

}  // namespace

RefinementResiduals::RefinementResiduals(Model model)
    : model_(model),
      n_(model == tk2XformCalib2Defs::eSineTan  ? 17
         : model == tk2XformCalib2Defs::eRadial ? 14
                                                : 11),
      intrinsicValues_(model == tk2XformCalib2Defs::eSineTan  ? 11
                       : model == tk2XformCalib2Defs::eRadial ? 8
                                                              : 5) {}

CameraIntrinsics RefinementResiduals::intrinsicsOf(const double* x) const {
  CameraIntrinsics v;
  v.tx = x[0];
  v.ty = x[1];
  v.sx = x[2];
  v.sy = x[3];
  v.skew = x[4];
  v.lens.model = lensModelOf(model_);
  if (model_ != tk2XformCalib2Defs::eNoDistortion) {
    v.lens.cx = x[11];
    v.lens.cy = x[12];
    for (int i = 0; i < intrinsicValues_ - kLensValue0; ++i)
      v.lens.values[i] = x[13 + i];
  }
  return v;
}

void RefinementResiduals::evaluate(const double* x, int held,
                                   const ccal_crspPair2D3DWeighted* records, std::size_t count,
                                   const Output& out) const {
  const CameraModel camera(intrinsicsOf(x));
  const Pose pose = poseOf(x, held);
  const bool sineTan = model_ == tk2XformCalib2Defs::eSineTan;
  const bool derivatives = out.f != nullptr || out.k != nullptr || out.jacobianRows != nullptr;
  const bool curvature = out.k != nullptr;
  // Sums of the feeding kinds: eSineTan the image residual alone (kinds[0]); otherwise the
  // intrinsic term (kinds[0]) and the pose term (kinds[1]).
  NormalSums kinds[2];
  double cost = 0.0;
  ResidualJacobian J;
  double byBlock[2][kMax] = {};
  const auto toBlock = [&] {
    for (int row = 0; row < 2; ++row) {
      for (int i = 0; i < intrinsicValues_; ++i)
        byBlock[row][intrinsicBlockOffset(i)] = J.byIntrinsics[row][i];
      for (int c = 0; c < 6; ++c)
        byBlock[row][kPoseFirst + c] = J.byCamera[row][c];
    }
  };

  for (std::size_t k = 0; k < count; ++k) {
    const ccal_crspPair2D3DWeighted& record = records[k];
    const long row = 2 * static_cast<long>(k);
    if (out.rows != nullptr)
      out.rows[row] = out.rows[row + 1] = 0.0;
    if (out.jacobianRows != nullptr)
      for (int i = 0; i < n_; ++i)
        out.jacobianRows[row + i * out.rowStride] = out.jacobianRows[row + 1 + i * out.rowStride] =
            0.0;
    const double w = record.w;
    if (w == 0.0)
      continue;  // adds exactly nothing, even where the residuals are not finite
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    double r[2];
    if (sineTan) {
      if (imageResidual(camera, pose, nullptr, image, P, r, derivatives ? &J : nullptr) !=
          ResidualStatus::kOk)
        continue;
      cost += w * (r[0] * r[0] + r[1] * r[1]);
      if (!derivatives)
        continue;
      toBlock();
      accumulate(kinds[0], byBlock, r, w, n_, curvature);
      if (out.rows != nullptr) {
        const double root = std::sqrt(w);
        out.rows[row] = root * r[0];
        out.rows[row + 1] = root * r[1];
        if (out.jacobianRows != nullptr)
          for (int i = 0; i < n_; ++i) {
            out.jacobianRows[row + i * out.rowStride] = root * byBlock[0][i];
            out.jacobianRows[row + 1 + i * out.rowStride] = root * byBlock[1][i];
          }
      }
      continue;
    }
    if (imageResidual(camera, pose, nullptr, image, P, r, nullptr) != ResidualStatus::kOk)
      continue;  // depth 0: no term of this point counts
    cost += w * (r[0] * r[0] + r[1] * r[1]);
    if (!derivatives)
      continue;
    intrinsicTermResidual(camera, pose, nullptr, image, P, r, &J);
    toBlock();
    accumulate(kinds[0], byBlock, r, w, n_, curvature);
    poseTermResidual(camera, pose, nullptr, image, P, r, &J);
    toBlock();
    accumulate(kinds[1], byBlock, r, w, n_, curvature);
  }

  if (out.cost != nullptr)
    *out.cost = cost;
  const double factor = sineTan ? 4.0 : 2.0;
  for (int i = 0; i < n_; ++i) {
    const bool poseRow = i >= kPoseFirst && i <= kPoseLast;
    const NormalSums& s = sineTan || !poseRow ? kinds[0] : kinds[1];
    if (out.f != nullptr)
      out.f[i] = factor * s.g[i];
    if (out.k != nullptr)
      for (int j = 0; j < n_; ++j)
        out.k[i + j * n_] = factor * (i <= j ? s.h[i][j] : s.h[j][i]);
  }
}

void RefinementResiduals::imageRows(const double* x, int held,
                                    const ccal_crspPair2D3DWeighted* records, std::size_t count,
                                    double* rows) const {
  const CameraModel camera(intrinsicsOf(x));
  const Pose pose = poseOf(x, held);
  for (std::size_t k = 0; k < count; ++k) {
    const ccal_crspPair2D3DWeighted& record = records[k];
    double* out = rows + 2 * k;
    out[0] = out[1] = 0.0;
    if (record.w == 0.0)
      continue;
    const double image[2] = {record.p.x, record.p.y};
    const double P[3] = {record.P.x, record.P.y, record.P.z};
    double r[2];
    if (imageResidual(camera, pose, nullptr, image, P, r, nullptr) != ResidualStatus::kOk)
      continue;
    const double root = std::sqrt(record.w);
    out[0] = root * r[0];
    out[1] = root * r[1];
  }
}

}  // namespace ccal::detail
