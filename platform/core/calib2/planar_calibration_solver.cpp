#include "platform/core/calib2/planar_calibration_solver.h"

#include <proc/csys_attention.h>

#include "platform/core/invalid_argument.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The most intrinsic slots a model and freedom give (K's first block).
constexpr long kMaxSlots = 12;

using ccal::detail::kCx;
using ccal::detail::kCy;
using ccal::detail::kLensValue0;
using ccal::detail::kSkew;
using ccal::detail::kSx;
using ccal::detail::kSy;
using ccal::detail::kTx;
using ccal::detail::kTy;

// Damped Newton settings: tolerances for parameters of order 1 (normalised frames); F is the
// exact gradient of the merit, so little starting damping.
tkLevMarSettings planarSettings(long maxIterations) {
  tkLevMarSettings settings;
  settings.xTol = 1e-12;
  settings.fTol = 0.0;
  settings.maxIterations = maxIterations;
  settings.lambda0 = 1e-8;
  return settings;
}

// An accepted step that lowers the merit by less than this share of it ends the minimisation:
// the merit's rounding, where full steps are accepted or rejected by chance.
constexpr double kMeritRounding = 1e-14;

long pointCount(const std::vector<std::vector<tk_PlanarObservation>>& views) {
  long count = 0;
  for (const auto& view : views)
    count += static_cast<long>(view.size());
  return count;
}

long linearMapCount(tk_IntrinsicsFreedom freedom) {
  switch (freedom) {
    case tk_IntrinsicsFreedom::eFull:
      return 5;
    case tk_IntrinsicsFreedom::eZeroSkew:
      return 4;
    default:
      return 1;
  }
}

long lensBlockCount(int32_t model, bool holdSineTanP3) {
  switch (model) {
    case CCAL_DISTORTION_NONE:
      return 0;
    case CCAL_DISTORTION_RADIAL:
      return 3;
    case CCAL_DISTORTION_SINE_TAN:
      return holdSineTanP3 ? 4 : 5;
    default:
      return -1;
  }
}

}  // namespace

long tk_PlanarCalibrationSolver::parameterCount(int32_t model, tk_IntrinsicsFreedom freedom,
                                                bool holdSineTanP3, std::size_t nViews) {
  const long lens = lensBlockCount(model, holdSineTanP3);
  if (lens < 0)
    return -1;
  return linearMapCount(freedom) + lens + 6 * static_cast<long>(nViews);
}

tk_PlanarCalibrationSolver::tk_PlanarCalibrationSolver(
    const std::vector<std::vector<tk_PlanarObservation>>& views, const tk_CameraIntrinsics& start,
    tk_IntrinsicsFreedom freedom, bool holdSineTanP3, const std::vector<tkXform<3>>& starts,
    long maxIterations)
    : tkDampedNewtonSolve(
          std::max(1L, parameterCount(start.model, freedom, holdSineTanP3, views.size())),
          planarSettings(maxIterations)),
      views_(views),
      base_(start),
      heldIndex_(views.size()) {
  if (parameterCount(start.model, freedom, holdSineTanP3, views.size()) < 0)
    tk_throwInvalidArgument("planar calibration: unknown distortion model");
  std::size_t largestView = 0;
  for (const auto& view : views)
    largestView = std::max(largestView, view.size());
  viewRows_.resize(2 * static_cast<Eigen::Index>(largestView), kMaxSlots + 6);
  if (starts.size() != views.size())
    tk_throwInvalidArgument("planar calibration: one starting pose per view is needed");
  if (2 * pointCount(views) < getSize())
    tk_throwInvalidArgument("planar calibration: fewer point coordinates than parameters");
  meritTolerance(kMeritRounding);

  switch (freedom) {
    case tk_IntrinsicsFreedom::eFull:
      slots_ = {eScaleX, eScaleY, eSkew, eTransX, eTransY};
      break;
    case tk_IntrinsicsFreedom::eZeroSkew:
      slots_ = {eScaleX, eScaleY, eTransX, eTransY};
      break;
    default:
      slots_ = {eSquareScale};
      base_.scaleY = base_.scaleX;
      break;
  }
  if (start.model == CCAL_DISTORTION_RADIAL)
    slots_.insert(slots_.end(), {eRadialK, eCentreX, eCentreY});
  else if (start.model == CCAL_DISTORTION_SINE_TAN)
    slots_.insert(slots_.end(), {eSineTanP1, eSineTanP2});
  if (start.model == CCAL_DISTORTION_SINE_TAN && !holdSineTanP3)
    slots_.push_back(eSineTanP3);
  if (start.model == CCAL_DISTORTION_SINE_TAN)
    slots_.insert(slots_.end(), {eCentreX, eCentreY});
  viewBlockStart_ = static_cast<long>(slots_.size());

  tkNMMatrix x(getSize(), 1);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    double value = 0.0;
    switch (slots_[i]) {
      case eScaleX:
      case eSquareScale:
        value = start.scaleX;
        break;
      case eScaleY:
        value = start.scaleY;
        break;
      case eSkew:
        value = start.skew;
        break;
      case eTransX:
        value = start.transX;
        break;
      case eTransY:
        value = start.transY;
        break;
      case eRadialK:
        value = start.lens[0];
        break;
      case eSineTanP1:
      case eSineTanP2:
      case eSineTanP3:
        value = start.lens[1 + (slots_[i] - eSineTanP1)];
        break;
      case eCentreX:
        value = start.centreX;
        break;
      case eCentreY:
        value = start.centreY;
        break;
    }
    x(static_cast<long>(i), 0) = value;
  }
  for (std::size_t v = 0; v < views.size(); ++v)
    heldIndex_[v] = ccal::detail::packQuaternionPose(starts[v], x.data() + viewBlockStart_ + 6 * v);
  setX(x);
  declareStructure();
}

// Blocks (and row groups, F being a gradient): the intrinsics (shared), then one pose per view
// (eliminated). A view's pose reaches its own rows and those of the intrinsics.
void tk_PlanarCalibrationSolver::declareStructure() {
  std::vector<long> blocks{0};
  for (std::size_t v = 0; v < views_.size(); ++v)
    blocks.push_back(viewBlockStart_ + 6 * static_cast<long>(v));
  if (viewBlockStart_ == 0 || views_.empty())
    return;  // nothing to structure
  tkJacobianStructure structure(getSize(), getSize(), blocks, blocks);
  structure.couple(0, 0);
  for (std::size_t v = 0; v < views_.size(); ++v) {
    const long block = 1 + static_cast<long>(v);
    structure.eliminate(block);
    structure.couple(block, block);
    if (views_[v].empty())
      continue;
    structure.couple(0, block);
    structure.couple(block, 0);
  }
  jacobianStructure(structure);
}

tk_CameraIntrinsics tk_PlanarCalibrationSolver::cameraOf(const double* x) const {
  tk_CameraIntrinsics camera = base_;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const double value = x[i];
    switch (slots_[i]) {
      case eScaleX:
        camera.scaleX = value;
        break;
      case eScaleY:
        camera.scaleY = value;
        break;
      case eSquareScale:
        camera.scaleX = camera.scaleY = value;
        break;
      case eSkew:
        camera.skew = value;
        break;
      case eTransX:
        camera.transX = value;
        break;
      case eTransY:
        camera.transY = value;
        break;
      case eRadialK:
        camera.lens[0] = value;
        break;
      case eSineTanP1:
      case eSineTanP2:
      case eSineTanP3:
        camera.lens[1 + (slots_[i] - eSineTanP1)] = value;
        break;
      case eCentreX:
        camera.centreX = value;
        break;
      case eCentreY:
        camera.centreY = value;
        break;
    }
  }
  if (camera.model == CCAL_DISTORTION_SINE_TAN)
    camera.lens[0] = camera.lens[1] * (1.0 - camera.lens[2] / camera.lens[3]);
  return camera;
}

tkXform<3> tk_PlanarCalibrationSolver::pose(std::size_t view) const {
  return ccal::detail::quaternionXform(heldIndex_[view],
                                       getX().data() + viewBlockStart_ + 6 * view);
}

bool tk_PlanarCalibrationSolver::viewPose(const double* x, std::size_t v,
                                          ccal::detail::Pose& pose) const {
  const double* values = x + viewBlockStart_ + 6 * static_cast<long>(v);
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(values[i]))
      return false;
  pose = ccal::detail::quaternionPose(heldIndex_[v], values);
  return true;
}

double tk_PlanarCalibrationSolver::merit(const tkNMMatrix& x) const {
  const ccal::detail::CameraModel camera = cameraOf(x.data()).cameraModel();
  double sum = 0.0;
  for (std::size_t v = 0; v < views_.size(); ++v) {
    ccal::detail::Pose pose;
    if (!viewPose(x.data(), v, pose))
      return std::numeric_limits<double>::quiet_NaN();
    for (const tk_PlanarObservation& o : views_[v]) {
      const double P[3] = {o.plate.x(), o.plate.y(), 0.0};
      double pc[3], image[2];
      ccal::detail::mapPoint(pose, P, pc, nullptr, nullptr);
      if (camera.project<ccal::detail::LinearValues::kImageFromDistorted>(pc, image, nullptr) !=
          ccal::detail::ProjectionStatus::kOk)
        return std::numeric_limits<double>::quiet_NaN();
      const double ex = image[0] - o.image.x(), ey = image[1] - o.image.y();
      sum += ex * ex + ey * ey;
    }
  }
  return sum;
}

long tk_PlanarCalibrationSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  const long status = csys_attention_check();
  if (status < 0)
    return status;
  accumulate(x.data(), f.data(), nullptr);
  return 0;
}

long tk_PlanarCalibrationSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix&,
                                           tkNMMatrix& jacobian) {
  const long n = getSize();
  if (jacobian.rows() != n || jacobian.cols() != n)
    jacobian.resize(n, n);
  accumulate(x.data(), nullptr, jacobian.data());
  return 0;
}

void tk_PlanarCalibrationSolver::accumulate(const double* x, double* F, double* K) const {
  const long n = getSize();
  const long nSlots = static_cast<long>(slots_.size());
  const tk_CameraIntrinsics camera = cameraOf(x);
  const ccal::detail::CameraModel model = camera.cameraModel();
  if (F)
    std::fill(F, F + n, 0.0);
  if (K) {
    // Only the declared blocks are written (the rest of K stays zero from the start).
    for (long c = 0; c < nSlots; ++c)
      std::fill(K + c * n, K + (c + 1) * n, 0.0);
    for (long c = nSlots; c < n; ++c) {
      std::fill(K + c * n, K + c * n + nSlots, 0.0);
      const long viewStart = nSlots + 6 * ((c - nSlots) / 6);
      std::fill(K + c * n + viewStart, K + c * n + viewStart + 6, 0.0);
    }
  }

  // d p0 / d (p1, p2, p3) of the sine-tangent constraint p0 = p1 (1 - p2 / p3).
  const double p1 = camera.lens[1], p2 = camera.lens[2], p3 = camera.lens[3];
  const double p0ByP1 = 1.0 - p2 / p3, p0ByP2 = -p1 / p3, p0ByP3 = p1 * p2 / (p3 * p3);

  for (std::size_t v = 0; v < views_.size(); ++v) {
    ccal::detail::Pose pose;
    if (!viewPose(x, v, pose)) {
      if (F)
        F[0] = std::numeric_limits<double>::quiet_NaN();  // no gradient at this x
      continue;
    }
    const long viewColumn = viewBlockStart_ + 6 * static_cast<long>(v);
    // The view's part of K, gᵀg over its rows, in a small dense buffer (lower triangle: the
    // product is symmetric), added to K's declared blocks once per view.
    const long count = nSlots + 6;
    const auto column = [&](long i) { return i < nSlots ? i : viewColumn + (i - nSlots); };
    double local[(kMaxSlots + 6) * (kMaxSlots + 6)];
    long rows = 0;  // of viewRows_
    for (const tk_PlanarObservation& o : views_[v]) {
      const double P[3] = {o.plate.x(), o.plate.y(), 0.0};
      double pc[3], byPose[3][6], image[2];
      ccal::detail::mapPoint(pose, P, pc, byPose, nullptr);
      // Derivatives by the values the slots hold: the forward map (A, t) = K.
      ccal::detail::ModelJacobian d;
      if (model.project<ccal::detail::LinearValues::kImageFromDistorted>(pc, image, &d) !=
          ccal::detail::ProjectionStatus::kOk) {
        if (F)
          F[0] = std::numeric_limits<double>::quiet_NaN();  // no gradient at this x
        continue;
      }
      const double residual[2] = {image[0] - o.image.x(), image[1] - o.image.y()};
      for (int r = 0; r < 2; ++r) {
        // The row of the residual's Jacobian: intrinsic slots, then the view's six values.
        double g[kMaxSlots + 6];
        for (long s = 0; s < nSlots; ++s) {
          double value = 0.0;
          switch (slots_[s]) {
            case eScaleX:
              value = d.byIntrinsics[r][kSx];
              break;
            case eScaleY:
              value = d.byIntrinsics[r][kSy];
              break;
            case eSquareScale:
              value = d.byIntrinsics[r][kSx] + d.byIntrinsics[r][kSy];
              break;
            case eSkew:
              value = d.byIntrinsics[r][kSkew];
              break;
            case eTransX:
              value = d.byIntrinsics[r][kTx];
              break;
            case eTransY:
              value = d.byIntrinsics[r][kTy];
              break;
            case eRadialK:
              value = d.byIntrinsics[r][kLensValue0];
              break;
            case eSineTanP1:
              value = d.byIntrinsics[r][kLensValue0 + 1] + d.byIntrinsics[r][kLensValue0] * p0ByP1;
              break;
            case eSineTanP2:
              value = d.byIntrinsics[r][kLensValue0 + 2] + d.byIntrinsics[r][kLensValue0] * p0ByP2;
              break;
            case eSineTanP3:
              value = d.byIntrinsics[r][kLensValue0 + 3] + d.byIntrinsics[r][kLensValue0] * p0ByP3;
              break;
            case eCentreX:
              value = d.byIntrinsics[r][kCx];
              break;
            case eCentreY:
              value = d.byIntrinsics[r][kCy];
              break;
          }
          g[s] = value;
        }
        double* gView = g + nSlots;
        for (int k = 0; k < 6; ++k)
          gView[k] = d.byPoint[r][0] * byPose[0][k] + d.byPoint[r][1] * byPose[1][k] +
                     d.byPoint[r][2] * byPose[2][k];

        // F = 2·Σ gᵀ·residual, K = 2·Σ gᵀ·g on the declared blocks.
        if (F)
          for (long i = 0; i < count; ++i)
            F[column(i)] += 2.0 * g[i] * residual[r];
        if (K) {
          for (long i = 0; i < count; ++i)
            viewRows_(rows, i) = g[i];
          ++rows;
        }
      }
    }
    if (!K)
      continue;
    // 2·GᵀG of the view's rows G: its upper triangle, column-major (element (i, c), i <= c, at
    // local[c·count + i]).
    Eigen::Map<Eigen::MatrixXd> product(local, count, count);
    product.setZero();
    product.selfadjointView<Eigen::Upper>().rankUpdate(
        viewRows_.topLeftCorner(rows, count).transpose(), 2.0);
    for (long c = 0; c < count; ++c) {
      double* Kc = K + column(c) * n;
      for (long i = 0; i < count; ++i)
        Kc[column(i)] += i <= c ? local[c * count + i] : local[i * count + c];
    }
  }
}
