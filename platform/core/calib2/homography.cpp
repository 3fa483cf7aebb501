#include "platform/core/calib2/homography.h"

#include <tk/exception.h>

#include "platform/core/invalid_argument.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

// Relative size below which a principal spread or a singular value counts as zero.
constexpr double kDegenerateRatio = 1e-8;

struct PointStatistics {
  Eigen::Vector2d centroid = Eigen::Vector2d::Zero();
  Eigen::Matrix2d scatter = Eigen::Matrix2d::Zero();  // sum of centred outer products
  double meanDistance = 0.0;
};

PointStatistics statistics(const std::vector<tkVector<2>>& points) {
  PointStatistics s;
  const double n = static_cast<double>(points.size());
  for (const tkVector<2>& p : points)
    s.centroid += Eigen::Vector2d(p.x(), p.y()) / n;
  for (const tkVector<2>& p : points) {
    const Eigen::Vector2d e = Eigen::Vector2d(p.x(), p.y()) - s.centroid;
    s.scatter += e * e.transpose();
    s.meanDistance += e.norm() / n;
  }
  return s;
}

bool spansPlane(const PointStatistics& s, std::size_t count) {
  if (count < 3)
    return false;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eigen(s.scatter, Eigen::EigenvaluesOnly);
  const double largest = eigen.eigenvalues()(1);
  const double smallest = eigen.eigenvalues()(0);
  return std::isfinite(largest) && largest > 0.0 &&
         smallest > kDegenerateRatio * kDegenerateRatio * largest;
}

// Similarity taking the points to centroid 0 and mean distance sqrt(2).
Eigen::Matrix3d normalisingTransform(const PointStatistics& s) {
  const double scale = std::sqrt(2.0) / s.meanDistance;
  Eigen::Matrix3d T = Eigen::Matrix3d::Identity();
  T(0, 0) = T(1, 1) = scale;
  T(0, 2) = -scale * s.centroid.x();
  T(1, 2) = -scale * s.centroid.y();
  return T;
}

}  // namespace

bool tk_pointsSpanPlane(const std::vector<tkVector<2>>& points) {
  return spansPlane(statistics(points), points.size());
}

Eigen::Matrix3d tk_computeHomography(const std::vector<tkVector<2>>& from,
                                     const std::vector<tkVector<2>>& to) {
  if (from.size() != to.size())
    tk_throwInvalidArgument("tk_computeHomography: point lists differ in length");
  if (from.size() < 4)
    tk_throwInvalidArgument("tk_computeHomography: fewer than 4 point pairs");
  const PointStatistics fromStats = statistics(from);
  const PointStatistics toStats = statistics(to);
  if (!spansPlane(fromStats, from.size()) || !spansPlane(toStats, to.size()))
    throw tkMathError::Singular();

  const Eigen::Matrix3d fromNormaliser = normalisingTransform(fromStats);
  const Eigen::Matrix3d toNormaliser = normalisingTransform(toStats);
  const Eigen::Index n = static_cast<Eigen::Index>(from.size());
  Eigen::MatrixXd design(2 * n, 9);
  for (Eigen::Index i = 0; i < n; ++i) {
    const Eigen::Vector3d a = fromNormaliser * Eigen::Vector3d(from[i].x(), from[i].y(), 1.0);
    const Eigen::Vector3d b = toNormaliser * Eigen::Vector3d(to[i].x(), to[i].y(), 1.0);
    // b x (H a) = 0: two independent rows per pair.
    design.row(2 * i) << 0.0, 0.0, 0.0, -a.transpose(), b.y() * a.transpose();
    design.row(2 * i + 1) << a.transpose(), 0.0, 0.0, 0.0, -b.x() * a.transpose();
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(design, Eigen::ComputeFullV);
  const Eigen::VectorXd& singular = svd.singularValues();
  if (!(singular(7) > kDegenerateRatio * singular(0)))
    throw tkMathError::Singular();
  const Eigen::VectorXd h = svd.matrixV().col(8);
  Eigen::Matrix3d normalised;
  normalised << h(0), h(1), h(2), h(3), h(4), h(5), h(6), h(7), h(8);
  Eigen::Matrix3d H = toNormaliser.inverse() * normalised * fromNormaliser;
  H /= H.norm();
  if (H(2, 2) < 0.0)
    H = -H;
  if (!H.allFinite())
    throw tkMathError::Singular();
  return H;
}
