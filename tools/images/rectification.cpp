#include "rectification.h"

#include <ccal/camera_terms.h>

#include <Eigen/Dense>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

using Matrix3 = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;

Matrix3 rotationOf(const std::array<double, 9>& m) {
  return Eigen::Map<const Matrix3>(m.data());
}

std::array<double, 9> arrayOf(const Matrix3& m) {
  std::array<double, 9> out{};
  Eigen::Map<Matrix3>(out.data()) = m;
  return out;
}

}  // namespace

tkPinholeView tfUndistortedView(const tkPhysicalAtZEquals1FromImageParams& model) {
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(model);
  tkPinholeView view;
  view.fx = k.fx;
  view.fy = k.fy;
  view.cx = k.cx;
  view.cy = k.cy;
  return view;
}

tkRectifiedPair tfRectifyPair(const tkPhysicalAtZEquals1FromImageParams& model0,
                              const std::array<double, 12>& cameraFromWorld0,
                              const tkPhysicalAtZEquals1FromImageParams& model1,
                              const std::array<double, 12>& cameraFromWorld1) {
  Matrix3 rotation[2];
  Eigen::Vector3d centre[2];
  const std::array<double, 12>* poses[2] = {&cameraFromWorld0, &cameraFromWorld1};
  for (int i = 0; i < 2; ++i) {
    const std::array<double, 12>& p = *poses[i];
    rotation[i] << p[0], p[1], p[2], p[4], p[5], p[6], p[8], p[9], p[10];
    centre[i] = -rotation[i].transpose() * Eigen::Vector3d(p[3], p[7], p[11]);
  }
  // Axes of the rectified frame in world coordinates.
  Eigen::Vector3d x = centre[1] - centre[0];
  const double baseline = x.norm();
  if (!(baseline > 0.0) || !std::isfinite(baseline))
    throw std::invalid_argument("the two cameras share their projection centre: no baseline");
  x /= baseline;
  if (x.dot(rotation[0].row(0).transpose()) < 0.0)
    x = -x;
  const Eigen::Vector3d meanAxis = rotation[0].row(2).transpose() + rotation[1].row(2).transpose();
  Eigen::Vector3d y = meanAxis.cross(x);
  if (!(y.norm() > 1e-9))
    throw std::invalid_argument("the baseline runs along the cameras' optical axes");
  y.normalize();
  const Eigen::Vector3d z = x.cross(y);
  Matrix3 viewFromWorld;
  viewFromWorld.row(0) = x.transpose();
  viewFromWorld.row(1) = y.transpose();
  viewFromWorld.row(2) = z.transpose();

  const tkPinholeView plain[2] = {tfUndistortedView(model0), tfUndistortedView(model1)};
  tkRectifiedPair pair;
  pair.baseline = baseline;
  const double f = 0.25 * (plain[0].fx + plain[0].fy + plain[1].fx + plain[1].fy);
  for (int i = 0; i < 2; ++i) {
    tkPinholeView& view = pair.view[i];
    view.fx = view.fy = f;
    view.cx = 0.5 * (plain[0].cx + plain[1].cx);
    view.cy = 0.5 * (plain[0].cy + plain[1].cy);
    view.viewFromCamera = arrayOf(viewFromWorld * rotation[i].transpose());
  }
  return pair;
}

tkVector<2> tfToView(const tkPinholeView& view, const tkPhysicalAtZEquals1FromImageParams& model,
                     const tkVector<2>& imagePoint) {
  const tkVector<2> q = model.warpPoint(imagePoint);
  const Eigen::Vector3d ray = rotationOf(view.viewFromCamera) * Eigen::Vector3d(q.x(), q.y(), 1.0);
  return tkVector<2>(view.fx * ray.x() / ray.z() + view.cx, view.fy * ray.y() / ray.z() + view.cy);
}

tkVector<2> tfFromView(const tkPinholeView& view, const tkPhysicalAtZEquals1FromImageParams& model,
                       const tkVector<2>& viewPoint) {
  const Eigen::Vector3d ray = rotationOf(view.viewFromCamera).transpose() *
                              Eigen::Vector3d((viewPoint.x() - view.cx) / view.fx,
                                              (viewPoint.y() - view.cy) / view.fy, 1.0);
  if (!(ray.z() > 0.0)) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return tkVector<2>(nan, nan);
  }
  return model.invWarpPoint(tkVector<2>(ray.x() / ray.z(), ray.y() / ray.z()));
}
