#include "platform/core/pose3d/pose_closed_form.h"

#include <tk/angle_vect.h>
#include <tk/exception.h>

#include "platform/core/calib2/homography.h"
#include "platform/core/calib2/planar_pose.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

tkMatrix<3> toMatrix(const Eigen::Matrix3d& m) {
  tkMatrix<3> out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      out.element(r, c, m(r, c));
  return out;
}

}  // namespace

tk_PointSpread tk_pointSpread(const std::vector<tkVector<3>>& points) {
  tk_PointSpread out;
  if (points.empty())
    return out;
  const double n = static_cast<double>(points.size());
  for (const tkVector<3>& p : points)
    out.centroid += p / n;
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  for (const tkVector<3>& p : points) {
    const tkVector<3> e = p - out.centroid;
    const Eigen::Vector3d v(e.x(), e.y(), e.z());
    scatter += v * v.transpose() / n;
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(scatter);
  Eigen::Matrix3d axes;
  for (int k = 0; k < 3; ++k) {
    out.spread[k] = std::sqrt(std::max(0.0, eigen.eigenvalues()(2 - k)));
    axes.col(k) = eigen.eigenvectors().col(2 - k);
  }
  if (axes.determinant() < 0.0)
    axes.col(2) = -axes.col(2);
  out.axes = toMatrix(axes);
  return out;
}

tkXform<3> tk_poseFromBestPlane(const std::vector<tkVector<2>>& positionsAtZ1,
                                const std::vector<tkVector<3>>& physicalPoints,
                                const tk_PointSpread& spread) {
  // Plane frame F: physical = centroid + axes * (a, b, c); its inverse maps physical points to
  // (a, b, c), c being the distance from the plane.
  const tkXform<3> planeFromPhysical = tkXform<3>(spread.axes, spread.centroid).inverse();
  std::vector<tkVector<2>> inPlane(physicalPoints.size());
  for (std::size_t i = 0; i < physicalPoints.size(); ++i) {
    const tkVector<3> p = planeFromPhysical.mapPoint(physicalPoints[i]);
    inPlane[i] = tkVector<2>(p.x(), p.y());
  }
  const tkXform<3> cameraFromPlane =
      tk_poseFromPlaneHomography(tk_computeHomography(inPlane, positionsAtZ1), tkVector<2>());
  return cameraFromPlane * planeFromPhysical;
}

bool tk_poseByLinearTransform(const std::vector<tkVector<2>>& positionsAtZ1,
                              const std::vector<tkVector<3>>& physicalPoints,
                              const tk_PointSpread& spread, tkXform<3>& pose) {
  const std::size_t n = physicalPoints.size();
  if (n < 6 || !(spread.spread[2] > 0.0))
    return false;
  // Physical points: centred and scaled by their mean spread; positions at Z = 1: centred and
  // scaled to unit spread.
  const double physicalScale =
      1.0 / ((spread.spread[0] + spread.spread[1] + spread.spread[2]) / 3.0);
  Eigen::Vector2d imageCentroid = Eigen::Vector2d::Zero();
  for (const tkVector<2>& q : positionsAtZ1)
    imageCentroid += Eigen::Vector2d(q.x(), q.y()) / static_cast<double>(n);
  double imageSpread = 0.0;
  for (const tkVector<2>& q : positionsAtZ1)
    imageSpread += (Eigen::Vector2d(q.x(), q.y()) - imageCentroid).squaredNorm();
  imageSpread = std::sqrt(imageSpread / static_cast<double>(2 * n));
  if (!(imageSpread > 0.0))
    return false;

  Eigen::Matrix4d physicalNormaliser = Eigen::Matrix4d::Identity();
  physicalNormaliser.topLeftCorner<3, 3>() *= physicalScale;
  physicalNormaliser.topRightCorner<3, 1>() =
      -physicalScale *
      Eigen::Vector3d(spread.centroid.x(), spread.centroid.y(), spread.centroid.z());
  Eigen::Matrix3d imageNormaliser = Eigen::Matrix3d::Identity();
  imageNormaliser(0, 0) = imageNormaliser(1, 1) = 1.0 / imageSpread;
  imageNormaliser.topRightCorner<2, 1>() = -imageCentroid / imageSpread;

  Eigen::MatrixXd design(2 * n, 12);
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector4d X =
        physicalNormaliser *
        Eigen::Vector4d(physicalPoints[i].x(), physicalPoints[i].y(), physicalPoints[i].z(), 1.0);
    const Eigen::Vector3d x =
        imageNormaliser * Eigen::Vector3d(positionsAtZ1[i].x(), positionsAtZ1[i].y(), 1.0);
    const Eigen::Index r = static_cast<Eigen::Index>(2 * i);
    design.row(r) << X.transpose(), Eigen::RowVector4d::Zero(), -x.x() * X.transpose();
    design.row(r + 1) << Eigen::RowVector4d::Zero(), X.transpose(), -x.y() * X.transpose();
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(design, Eigen::ComputeFullV);
  const Eigen::VectorXd& singular = svd.singularValues();
  if (!(singular(10) > 1e-10 * singular(0)))
    return false;
  const Eigen::VectorXd p = svd.matrixV().col(11);
  Eigen::Matrix<double, 3, 4> normalisedProjection;
  normalisedProjection << p(0), p(1), p(2), p(3), p(4), p(5), p(6), p(7), p(8), p(9), p(10), p(11);
  Eigen::Matrix<double, 3, 4> projection =
      imageNormaliser.inverse() * normalisedProjection * physicalNormaliser;
  Eigen::Matrix3d M = projection.leftCols<3>();
  if (M.determinant() < 0.0) {
    projection = -projection;
    M = -M;
  }
  // M = scale * R up to noise: |M| (Frobenius) = scale * sqrt(3).
  const double scale = M.norm() / std::sqrt(3.0);
  if (!(scale > 0.0) || !projection.allFinite())
    return false;
  const tkMatrix<3> rotation = tk3AngleVect::closestRotation(toMatrix(M / scale));
  const Eigen::Vector3d t = projection.col(3) / scale;
  pose = tkXform<3>(rotation, tkVector<3>(t(0), t(1), t(2)));
  return pose.mapPoint(spread.centroid).z() > 0.0;
}
