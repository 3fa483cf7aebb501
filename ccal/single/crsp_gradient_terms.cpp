#include "ccal/single/crsp_gradient_terms.h"

#include "ccal/problem/parameter_layout.h"

#include <proc/ccal_lens_distortion.h>
#include <proc/cstd_assert.h>

#include <cmath>

using ccal::detail::CameraOffset;

namespace {

// Sine-tangent distortion of a position at Z = 1 for a given centre: c + u·r_d(θ) with
// u = (q − c)/r, θ = atan2(r, 1); the centre itself when r = 0.
tkVector<2> sineTanDistorted(const double* lens, double cx, double cy, const tkVector<2>& q) {
  const double ex = q.x() - cx;
  const double ey = q.y() - cy;
  const double r = std::sqrt(ex * ex + ey * ey);
  if (r == 0.0)
    return tkVector<2>(cx, cy);
  const double theta = std::atan2(r, 1.0);
  const double rd = lens[0] * std::tan(theta / lens[1]) + lens[2] * std::sin(theta / lens[3]);
  return tkVector<2>(cx + ex / r * rd, cy + ey / r * rd);
}

// Radial and no distortion: see the header. k = 0 for eNoDistortion.
void addRadialTerm(const tk_IntrinsicValues& v, bool radial, const tkVector<2>& p,
                   const tkVector<2>& q, double w, double* block, tkVector<2>* positionAtZ1) {
  const double dx = v.sx * p.x() + v.skew * p.y() + v.tx;
  const double dy = v.sy * p.y() + v.ty;
  const double k = radial ? v.lens[0] : 0.0;
  const double ex = dx - v.cx;
  const double ey = dy - v.cy;
  const double r2 = ex * ex + ey * ey;
  const double Wx = radial ? dx + k * r2 * ex : dx;
  const double Wy = radial ? dy + k * r2 * ey : dy;
  if (positionAtZ1 != nullptr)
    *positionAtZ1 = tkVector<2>(Wx, Wy);

  const double Rx = Wx - q.x();
  const double Ry = Wy - q.y();
  const double invSx2 = 1.0 / (v.sx * v.sx);
  const double invSy2 = 1.0 / (v.sy * v.sy);
  // G: gradient of E with respect to W.
  const double Gx = 2.0 * w * Rx * invSx2;
  const double Gy = 2.0 * w * Ry * invSy2;
  // gd = (∂W/∂d)ᵀ·G with ∂W/∂d = I + k·(r²·I + 2·e·eᵀ) (symmetric).
  const double eG = ex * Gx + ey * Gy;
  const double gdx = Gx + k * (r2 * Gx + 2.0 * ex * eG);
  const double gdy = Gy + k * (r2 * Gy + 2.0 * ey * eG);

  block[CameraOffset::kTranslationX] += gdx;
  block[CameraOffset::kTranslationY] += gdy;
  block[CameraOffset::kScaleX] += gdx * p.x() - 2.0 * w * Rx * Rx * invSx2 / v.sx;
  block[CameraOffset::kScaleY] += gdy * p.y() - 2.0 * w * Ry * Ry * invSy2 / v.sy;
  block[CameraOffset::kSkew] += gdx * p.y();
  if (radial) {
    // ∂W/∂c = −k·(r²·I + 2·e·eᵀ) = I − ∂W/∂d; ∂W/∂k = r²·e.
    block[CameraOffset::kCenterX] += Gx - gdx;
    block[CameraOffset::kCenterY] += Gy - gdy;
    block[CameraOffset::kLensFirst] += r2 * eG;
  }
}

void addSineTanTerm(const tk_IntrinsicValues& v, const tkVector<2>& p, const tkVector<2>& q,
                    double w, double* block) {
  const double* lens = v.lens;
  const double p0 = lens[0], p1 = lens[1], p2 = lens[2], p3 = lens[3];
  const double qcx = q.x() - v.cx;
  const double qcy = q.y() - v.cy;
  const double r = std::sqrt(qcx * qcx + qcy * qcy);
  const double ux = r == 0.0 ? 0.0 : qcx / r;
  const double uy = r == 0.0 ? 0.0 : qcy / r;
  const double theta = std::atan2(r, 1.0);
  const double tanTerm = std::tan(theta / p1);
  const double sinTerm = std::sin(theta / p3);
  const double rd = p0 * tanTerm + p2 * sinTerm;
  // r/r_d, and its limit 1/r_d'(0) at the centre.
  const double ratio = r == 0.0 ? 1.0 / (p0 / p1 + p2 / p3) : r / rd;
  const double wPrime = w * ratio * ratio;

  const double Dx = v.cx + ux * rd;
  const double Dy = v.cy + uy * rd;
  const double Lx = v.sx * p.x() + v.skew * p.y() + v.tx;
  const double Ly = v.sy * p.y() + v.ty;
  const double ex = Dx - Lx;
  const double ey = Dy - Ly;
  const double g = ex * ux + ey * uy;

  block[CameraOffset::kTranslationX] += -2.0 * ex * wPrime;
  block[CameraOffset::kTranslationY] += -2.0 * ey * wPrime;
  block[CameraOffset::kScaleX] += -2.0 * ex * p.x() * wPrime;
  block[CameraOffset::kScaleY] += -2.0 * ey * p.y() * wPrime;
  block[CameraOffset::kSkew] += -2.0 * ex * p.y() * wPrime;

  const double h = 1e-8;
  const tkVector<2> dPlusX = sineTanDistorted(lens, v.cx + h, v.cy, q);
  const tkVector<2> dMinusX = sineTanDistorted(lens, v.cx - h, v.cy, q);
  const tkVector<2> dPlusY = sineTanDistorted(lens, v.cx, v.cy + h, q);
  const tkVector<2> dMinusY = sineTanDistorted(lens, v.cx, v.cy - h, q);
  const tkVector<2> e(ex, ey);
  block[CameraOffset::kCenterX] += 2.0 * wPrime * e.dot(dPlusX - dMinusX) / h;
  block[CameraOffset::kCenterY] += 2.0 * wPrime * e.dot(dPlusY - dMinusY) / h;

  if (std::fabs(theta) < 1.4707963267948965 * std::fabs(p1)) {
    block[CameraOffset::kLensFirst + 0] += 2.0 * g * tanTerm * wPrime;
    block[CameraOffset::kLensFirst + 1] +=
        -2.0 * g * p0 * (1.0 + tanTerm * tanTerm) * theta / (p1 * p1) * wPrime;
  }
  if (std::fabs(theta) < 1.5707963267948966 * std::fabs(p3)) {
    block[CameraOffset::kLensFirst + 2] += 2.0 * g * sinTerm * wPrime;
    block[CameraOffset::kLensFirst + 3] +=
        -2.0 * g * p2 * std::cos(theta / p3) * theta / (p3 * p3) * wPrime;
  }
}

}  // namespace

void tfAddIntrinsicGradientTerm(const tk_IntrinsicValues& intrinsic, const tkVector<2>& imagePoint,
                                const tkVector<2>& positionAtZ1OfPhysical, double weight,
                                double* block, tkVector<2>* positionAtZ1) {
  switch (intrinsic.model) {
    case tk2XformCalib2Defs::eNoDistortion:
      addRadialTerm(intrinsic, false, imagePoint, positionAtZ1OfPhysical, weight, block,
                    positionAtZ1);
      return;
    case tk2XformCalib2Defs::eRadial:
      addRadialTerm(intrinsic, true, imagePoint, positionAtZ1OfPhysical, weight, block,
                    positionAtZ1);
      return;
    case tk2XformCalib2Defs::eSineTan:
      addSineTanTerm(intrinsic, imagePoint, positionAtZ1OfPhysical, weight, block);
      if (positionAtZ1 != nullptr) {
        const double dx =
            intrinsic.sx * imagePoint.x() + intrinsic.skew * imagePoint.y() + intrinsic.tx;
        const double dy = intrinsic.sy * imagePoint.y() + intrinsic.ty;
        double qx = 0.0, qy = 0.0;
        tfThrowExceptionOnFailure(ccal_lensDistortion_undistort(
            intrinsic.model, intrinsic.lens, intrinsic.cx, intrinsic.cy, dx, dy, &qx, &qy));
        *positionAtZ1 = tkVector<2>(qx, qy);
      }
      return;
    default:
      cstd_assert_(__FILE__, __LINE__);
      if (positionAtZ1 != nullptr)
        *positionAtZ1 = tkVector<2>(
            intrinsic.sx * imagePoint.x() + intrinsic.skew * imagePoint.y() + intrinsic.tx,
            intrinsic.sy * imagePoint.y() + intrinsic.ty);
      return;
  }
}
