#include <tk/angle_vect.h>
#include <tk/exception.h>

#include <Eigen/Dense>

#include <cmath>

namespace {
// Below this cos ry (rounding level) the first column no longer defines rz: rx and rz act
// about the same axis.
constexpr double kGimbalLockCosine = 1e-15;
}  // namespace

tkMatrix<3> tk3AngleVect::matrix() const {
  const double cx = std::cos(rx_), sx = std::sin(rx_);
  const double cy = std::cos(ry_), sy = std::sin(ry_);
  const double cz = std::cos(rz_), sz = std::sin(rz_);
  return tkMatrix<3>(cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx,  //
                     sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx,  //
                     -sy, cy * sx, cy * cx);
}

void tk3AngleVect::matrix(const tkMatrix<3>& m) {
  const tkMatrix<3> R = closestRotation(m);
  auto r = [&R](int row, int col) { return R.element(row, col); };

  // The first column is (cz·cy, sz·cy, −sy) with cy >= 0 for ry in [−π/2, π/2].
  const double cosY = std::hypot(r(0, 0), r(1, 0));
  const double rz = cosY > kGimbalLockCosine ? std::atan2(r(1, 0), r(0, 0)) : 0.0;
  const double ry = std::atan2(-r(2, 0), cosY);
  // Rz(rz)ᵀ·R = Ry·Rx, whose row 1 is (0, cx, −sx). Taking rx from it (rather than from the
  // last row of R, which degenerates with cy) keeps the product exact for whatever rz was chosen.
  const double cz = std::cos(rz), sz = std::sin(rz);
  const double rx = std::atan2(sz * r(0, 2) - cz * r(1, 2), cz * r(1, 1) - sz * r(0, 1));
  rx_ = rx;
  ry_ = ry;
  rz_ = rz;
}

tkMatrix<3> tk3AngleVect::closestRotation(const tkMatrix<3>& m) {
  if (m.isSingular())
    throw tkMathError::Singular();
  Eigen::Matrix3d a;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      a(r, c) = m.element(r, c);
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(a, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d u = svd.matrixU();
  const Eigen::Matrix3d& v = svd.matrixV();
  // Singular values are sorted decreasing: flipping the last column costs least.
  if ((u * v.transpose()).determinant() < 0.0)
    u.col(2) = -u.col(2);
  const Eigen::Matrix3d rotation = u * v.transpose();
  tkMatrix<3> out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      out.element(r, c, rotation(r, c));
  return out;
}
