#include "platform/core/calib2/planar_calibration_solver.h"

#include <proc/csys_attention.h>

#include "platform/core/invalid_argument.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Levenberg-Marquardt settings: tolerances for parameters of order 1 (normalised frames).
constexpr double kXTolerance = 1e-12;
constexpr long kMaxLambdaSteps = 15;
constexpr double kLambda0 = 1e-8;
constexpr double kLambdaMax = 1e20;

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
    : tkLevMarSolve(std::max(1L, parameterCount(start.model, freedom, holdSineTanP3, views.size())),
                    std::max(1L, 2 * pointCount(views)), kXTolerance, 0.0, maxIterations,
                    kMaxLambdaSteps, kLambda0, 1e-8, kLambdaMax, true, false),
      views_(views),
      base_(start),
      poseParameters_(views.size()) {
  if (parameterCount(start.model, freedom, holdSineTanP3, views.size()) < 0)
    tk_throwInvalidArgument("planar calibration: unknown distortion model");
  if (starts.size() != views.size())
    tk_throwInvalidArgument("planar calibration: one starting pose per view is needed");
  if (getFunctionSize() < getSize())
    tk_throwInvalidArgument("planar calibration: fewer point coordinates than parameters");

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
    poseParameters_[v].pack(starts[v], x.data() + viewBlockStart_ + 6 * v);
  setX(x);
  declareStructure();
}

// Blocks: the intrinsics (shared), then one pose per view (eliminated); row groups: the rows of
// each view with points. A view's pose reaches its own rows only, the intrinsics every row.
void tk_PlanarCalibrationSolver::declareStructure() {
  std::vector<long> blocks{0};
  std::vector<long> groups;
  long row = 0;
  for (std::size_t v = 0; v < views_.size(); ++v) {
    blocks.push_back(viewBlockStart_ + 6 * static_cast<long>(v));
    if (!views_[v].empty())
      groups.push_back(row);
    row += 2 * static_cast<long>(views_[v].size());
  }
  if (groups.empty() || row != getFunctionSize())
    return;  // nothing to structure
  tkJacobianStructure structure(getSize(), getFunctionSize(), blocks, groups);
  long group = 0;
  for (std::size_t v = 0; v < views_.size(); ++v) {
    const long block = 1 + static_cast<long>(v);
    structure.eliminate(block);
    if (views_[v].empty())
      continue;
    structure.couple(0, group);
    structure.couple(block, group);
    ++group;
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
  return poseParameters_[view].unpack(getX().data() + viewBlockStart_ + 6 * view);
}

void tk_PlanarCalibrationSolver::viewRotation(const double* x, std::size_t v, double R[3][3],
                                              double (*byValue)[3][3]) const {
  poseParameters_[v].rotation(x + viewBlockStart_ + 6 * v, R, byValue);
}

long tk_PlanarCalibrationSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  const long status = csys_attention_check();
  if (status < 0)
    return status;
  const tk_CameraIntrinsics camera = cameraOf(x.data());
  double* out = f.data();
  for (std::size_t v = 0; v < views_.size(); ++v) {
    double R[3][3];
    viewRotation(x.data(), v, R, nullptr);
    const double* t = x.data() + viewBlockStart_ + 6 * v + 3;
    for (const tk_PlanarObservation& o : views_[v]) {
      const double X = o.plate.x(), Y = o.plate.y();
      const double pc[3] = {R[0][0] * X + R[0][1] * Y + t[0], R[1][0] * X + R[1][1] * Y + t[1],
                            R[2][0] * X + R[2][1] * Y + t[2]};
      double image[2];
      if (tk_projectCameraPoint(camera, pc, image, nullptr)) {
        out[0] = image[0] - o.image.x();
        out[1] = image[1] - o.image.y();
      } else {
        out[0] = out[1] = std::numeric_limits<double>::quiet_NaN();
      }
      out += 2;
    }
  }
  return 0;
}

long tk_PlanarCalibrationSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix&,
                                           tkNMMatrix& jacobian) {
  const tk_CameraIntrinsics camera = cameraOf(x.data());
  const long rows = jacobian.rows();
  double* J = jacobian.data();  // column-major: element (r, c) at J[r + c * rows]
  const long nSlots = static_cast<long>(slots_.size());
  if (jacobianStructure().empty()) {
    std::memset(J, 0, sizeof(double) * static_cast<std::size_t>(rows * jacobian.cols()));
  } else {
    // Only the declared blocks (the intrinsic columns, each view's columns on its rows): a
    // view's columns are zero on the other views' rows from the buffer's zero-filled start
    // on, and the structured solve reads nothing else.
    std::memset(J, 0, sizeof(double) * static_cast<std::size_t>(rows * nSlots));
    long first = 0;
    for (std::size_t v = 0; v < views_.size(); ++v) {
      const long count = 2 * static_cast<long>(views_[v].size());
      for (long k = 0; k < 6; ++k)
        std::memset(J + first + (viewBlockStart_ + 6 * static_cast<long>(v) + k) * rows, 0,
                    sizeof(double) * static_cast<std::size_t>(count));
      first += count;
    }
  }

  // d p0 / d (p1, p2, p3) of the sine-tangent constraint p0 = p1 (1 - p2 / p3).
  const double p1 = camera.lens[1], p2 = camera.lens[2], p3 = camera.lens[3];
  const double p0ByP1 = 1.0 - p2 / p3, p0ByP2 = -p1 / p3, p0ByP3 = p1 * p2 / (p3 * p3);

  long row = 0;
  for (std::size_t v = 0; v < views_.size(); ++v) {
    double R[3][3], byValue[3][3][3];
    viewRotation(x.data(), v, R, byValue);
    const double* t = x.data() + viewBlockStart_ + 6 * v + 3;
    const long viewColumn = viewBlockStart_ + 6 * static_cast<long>(v);
    for (const tk_PlanarObservation& o : views_[v]) {
      const double X = o.plate.x(), Y = o.plate.y();
      const double pc[3] = {R[0][0] * X + R[0][1] * Y + t[0], R[1][0] * X + R[1][1] * Y + t[1],
                            R[2][0] * X + R[2][1] * Y + t[2]};
      double image[2];
      tk_ProjectionDerivatives d;
      if (!tk_projectCameraPoint(camera, pc, image, &d)) {
        row += 2;
        continue;  // not at an accepted point: the row stays zero
      }
      for (int r = 0; r < 2; ++r) {
        double* Jrow = J + row + r;
        for (long s = 0; s < nSlots; ++s) {
          double value = 0.0;
          switch (slots_[s]) {
            case eScaleX:
              value = d.byLinearMap[r][0];
              break;
            case eScaleY:
              value = d.byLinearMap[r][1];
              break;
            case eSquareScale:
              value = d.byLinearMap[r][0] + d.byLinearMap[r][1];
              break;
            case eSkew:
              value = d.byLinearMap[r][2];
              break;
            case eTransX:
              value = d.byLinearMap[r][3];
              break;
            case eTransY:
              value = d.byLinearMap[r][4];
              break;
            case eRadialK:
              value = d.byLens[r][0];
              break;
            case eSineTanP1:
              value = d.byLens[r][1] + d.byLens[r][0] * p0ByP1;
              break;
            case eSineTanP2:
              value = d.byLens[r][2] + d.byLens[r][0] * p0ByP2;
              break;
            case eSineTanP3:
              value = d.byLens[r][3] + d.byLens[r][0] * p0ByP3;
              break;
            case eCentreX:
              value = d.byCentre[r][0];
              break;
            case eCentreY:
              value = d.byCentre[r][1];
              break;
          }
          Jrow[s * rows] = value;
        }
        for (int k = 0; k < 3; ++k) {
          // d Pc / d v_k = (d R / d v_k) (X, Y, 0).
          double value = 0.0;
          for (int c = 0; c < 3; ++c)
            value += d.byCameraPoint[r][c] * (byValue[k][c][0] * X + byValue[k][c][1] * Y);
          Jrow[(viewColumn + k) * rows] = value;
        }
        for (int j = 0; j < 3; ++j)
          Jrow[(viewColumn + 3 + j) * rows] = d.byCameraPoint[r][j];
      }
      row += 2;
    }
  }
  return 0;
}
