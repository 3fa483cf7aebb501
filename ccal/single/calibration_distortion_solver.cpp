#include "ccal/single/calibration_distortion_solver.h"

#include "ccal/single/camera_projection.h"
#include "ccal/single/crsp_gradient_terms.h"
#include "ccal/single/sine_tan_cost.h"

#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/csys_attention.h>
#include <tk/failure.h>
#include <tk/quaternion_partials.h>
#include <tk/quaternion_xform.h>
#include <tk/real_eq.h>

#include "platform/core/invalid_argument.h"

#include <Eigen/Core>
#include <Eigen/Householder>
#include <Eigen/QR>

#include <cmath>
#include <cstddef>

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

// Work space of the sine-tangent least-squares step, sized with the correspondences.
struct tk_SineTanLeastSquares {
  Eigen::MatrixXd a;          // 2·count x n: √w·∂image/∂x, rows x then y
  Eigen::VectorXd r;          // 2·count: √w·(image − p), then Qᵀ·r
  Eigen::VectorXd r0;         // 2·count: √w·(image − p) at x
  Eigen::VectorXd curvature;  // 2·count: second directional derivative of the residuals
  Eigen::HouseholderQR<Eigen::MatrixXd> qr;
  Eigen::MatrixXd rFactor;  // n x n, upper triangle: R of A
  Eigen::VectorXd qtr;      // (Qᵀr), first n values
  Eigen::MatrixXd stacked;  // 2n x n
  Eigen::VectorXd rhs;      // 2n
  Eigen::HouseholderQR<Eigen::MatrixXd> stackedQr;
};

namespace {

long parameterCount(Model model) {
  const int n = ParameterLayout::calibrationBlockSize(model);
  if (n == 0)
    tk_throwInvalidArgument(
        "tk3DCalibrationDistortionSolver: the distortion model is none of eNoDistortion, "
        "eRadial and eSineTan");
  return n;
}

}  // namespace

tk3DCalibrationDistortionSolver::tk3DCalibrationDistortionSolver(Model model)
    : tkDampedNewtonSolve(parameterCount(model), parameterCount(model), 1e-12, 1e-30, 300, 15, 0.01,
                          1e-8, 1e20, true, false),
      layout_(ParameterLayout::singleCamera(model)),
      records_() {
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_construct(&records_, 0));
  // Along the nearly flat directions of the sine-tangent lens values the cost falls by
  // rounding-sized amounts for arbitrarily long steps; demanding a share of the predicted
  // decrease keeps a short refinement from running off along them.
  if (model == tk2XformCalib2Defs::eSineTan) {
    sufficientDecrease(0.25);
    leastSquares_.reset(new tk_SineTanLeastSquares);
  }
}

tk3DCalibrationDistortionSolver::~tk3DCalibrationDistortionSolver() {
  cstd_vector_ccal_crspPair2D3DWeighted_destruct(&records_);
}

void tk3DCalibrationDistortionSolver::correspondences(const Correspondences& list) {
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_resize(&records_, list.size()));
  ccal_crspPair2D3DWeighted* records = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_getBegin(&records_, &records));
  for (std::size_t i = 0; i < list.size(); ++i) {
    const tkVector<2>& p = list[i].first.first;
    const tkVector<3>& P = list[i].first.second;
    records[i] = ccal_crspPair2D3DWeighted{{p.x(), p.y()}, {P.x(), P.y(), P.z()}, list[i].second};
  }
  correspondences_ = list;
  if (leastSquares_) {
    const Eigen::Index n = getSize();
    const Eigen::Index rows = std::max<Eigen::Index>(2 * static_cast<Eigen::Index>(list.size()), n);
    tk_SineTanLeastSquares& ls = *leastSquares_;
    ls.a.setZero(rows, n);  // rows beyond the points (fewer than n/2 points) stay zero
    ls.r.setZero(rows);
    ls.r0.setZero(rows);
    ls.curvature.setZero(rows);
    ls.qr = Eigen::HouseholderQR<Eigen::MatrixXd>(rows, n);
    ls.rFactor.setZero(n, n);
    ls.qtr.setZero(n);
    ls.stacked.setZero(2 * n, n);
    ls.rhs.setZero(2 * n);
    ls.stackedQr = Eigen::HouseholderQR<Eigen::MatrixXd>(2 * n, n);
  }
}

long tk3DCalibrationDistortionSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  if (layout_.model() == tk2XformCalib2Defs::eSineTan)
    return numericalGradient(x.data(), f.data());
  return analyticGradient(x.data(), f.data());
}

long tk3DCalibrationDistortionSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix& f,
                                                tkNMMatrix& jacobian) {
  if (layout_.model() != tk2XformCalib2Defs::eSineTan)
    return tkDampedNewtonSolve::compJacob(x, f, jacobian);
  const long n = getSize();
  if (x.rows() != n || x.cols() != 1)
    tk_throwInvalidArgument("tk3DCalibrationDistortionSolver::compJacob: x is not n x 1");
  if (jacobian.rows() != n || jacobian.cols() != n)
    jacobian.resize(n, n);
  stagedPass(x.data(), nullptr, jacobian.data(), kSineTanJacobianStep);
  tk_SineTanLeastSquares& ls = *leastSquares_;
  ls.r0 = ls.r;
  ls.qr.compute(ls.a);
  ls.rFactor = ls.qr.matrixQR().topRows(n).triangularView<Eigen::Upper>();
  ls.r.applyOnTheLeft(ls.qr.householderQ().transpose());
  ls.qtr = ls.r.head(n);
  return 0;
}

bool tk3DCalibrationDistortionSolver::solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) {
  if (layout_.model() != tk2XformCalib2Defs::eSineTan)
    return tkDampedNewtonSolve::solveDampedStep(damping, step);
  tk_SineTanLeastSquares& ls = *leastSquares_;
  const Eigen::Index n = getSize();
  const Eigen::Index rows = ls.a.rows();
  // min |A·δ + b|² + ¼·δᵀ·diag(damping)·δ for a right-hand side b, from A = Q·R:
  // min |R·δ + (Qᵀb)ₙ|² + |√(damping/4)·δ|², one QR of the stacked matrix per damping.
  ls.stacked.topRows(n) = ls.rFactor;
  ls.stacked.bottomRows(n).setZero();
  for (Eigen::Index i = 0; i < n; ++i)
    ls.stacked(n + i, i) = std::sqrt(0.25 * damping.data()[i]);
  ls.stackedQr.compute(ls.stacked);
  const auto solve = [&](const Eigen::VectorXd& qtb, double* out) {
    ls.rhs.head(n) = qtb.head(n);
    ls.rhs.tail(n).setZero();
    ls.rhs.applyOnTheLeft(ls.stackedQr.householderQ().transpose());
    Eigen::Map<Eigen::VectorXd> delta(out, n);
    delta = -ls.rhs.head(n);
    ls.stackedQr.matrixQR().topRows(n).triangularView<Eigen::Upper>().solveInPlace(delta);
    return delta.allFinite();
  };
  double* velocity = step.data();
  if (!solve(ls.qtr, velocity))
    return false;

  // Geodesic acceleration: the lens values form a curved valley, along which the straight step
  // leaves the floor and is rejected however well the model predicted its start. The second
  // directional derivative of the residuals along the step, from one more pass over the points,
  // bends the step along the valley: δ = v + ½·a with (AᵀA + damping/4)·a = −Aᵀ·r_vv. A step whose
  // correction is not small against it (2·|a| > 0.75·|v| in the damping's metric) is rejected.
  constexpr double kProbe = 0.1;
  constexpr double kLargestBend = 0.75;
  double probe[CameraOffset::kMaxSize];
  for (Eigen::Index i = 0; i < n; ++i)
    probe[i] = getX().data()[i] + kProbe * velocity[i];
  tk_CameraValues values;
  layout_.unpackCamera(probe, 0, nullptr, values);
  tk_SineTanCamera camera;
  tfPrepareSineTanCamera(values, camera);
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));
  const Eigen::Map<const Eigen::VectorXd> v(velocity, n);
  ls.curvature.noalias() = ls.a * v;  // J·v
  for (std::size_t k = 0; k < count; ++k) {
    const ccal_crspPair2D3DWeighted& r = records[k];
    const Eigen::Index row = 2 * static_cast<Eigen::Index>(k);
    if (r.w == 0.0)
      continue;  // zero rows
    const double root = std::sqrt(r.w);
    const tkVector<2> image = tfSineTanImagePoint(camera, tkVector<3>(r.P.x, r.P.y, r.P.z));
    const double moved[2] = {root * (image.x() - r.p.x), root * (image.y() - r.p.y)};
    for (int c = 0; c < 2; ++c)
      ls.curvature(row + c) =
          2.0 / kProbe * ((moved[c] - ls.r0(row + c)) / kProbe - ls.curvature(row + c));
  }
  for (Eigen::Index row = 2 * static_cast<Eigen::Index>(count); row < rows; ++row)
    ls.curvature(row) = 0.0;
  ls.curvature.applyOnTheLeft(ls.qr.householderQ().transpose());
  double acceleration[CameraOffset::kMaxSize];
  if (!solve(ls.curvature, acceleration))
    return false;
  double vNorm = 0.0, aNorm = 0.0;
  for (Eigen::Index i = 0; i < n; ++i) {
    const double d = damping.data()[i];
    vNorm += d * velocity[i] * velocity[i];
    aNorm += d * acceleration[i] * acceleration[i];
  }
  if (!(2.0 * std::sqrt(aNorm) <= kLargestBend * std::sqrt(vNorm)) && aNorm > 0.0)
    return false;
  for (Eigen::Index i = 0; i < n; ++i)
    velocity[i] += 0.5 * acceleration[i];
  return std::isfinite(aNorm);
}

long tk3DCalibrationDistortionSolver::analyticGradient(const double* x, double* f) const {
  tk_CameraValues values;
  layout_.unpackCamera(x, 0, nullptr, values);
  const long attention = csys_attention_check();
  if (attention < 0)
    return attention;
  c3d_ptRayGenericPoly acc;
  tfThrowExceptionOnFailure(c3d_ptRayGenericPoly_init(&acc));
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));

  for (std::size_t i = 0; i < count; ++i) {
    const ccal_crspPair2D3DWeighted& r = records[i];
    if (r.w == 0.0)
      continue;  // adds exactly nothing
    const tkVector<3> P(r.P.x, r.P.y, r.P.z);
    const tkVector<3> Pc = values.rotation * P + values.trans;
    if (tfRealEq(Pc.z(), 0.0, 1e-15))
      continue;
    const tkVector<2> q(Pc.x() / Pc.z(), Pc.y() / Pc.z());
    tkVector<2> m;
    tfAddIntrinsicGradientTerm(values.intrinsic, tkVector<2>(r.p.x, r.p.y), q, r.w, f, &m);
    const double inverseDepth = 1.0 / Pc.z();
    tfAddPoseTerms(acc, P, m, r.w * (inverseDepth * inverseDepth));
  }

  double partials[6];
  tfGetQuaternionPartialDerivatives(tk3QuaternionXform(values.quat, values.trans), unitValIndex(),
                                    acc, partials);
  for (int k = 0; k < 6; ++k)
    f[CameraOffset::kQuatVar1 + k] = partials[k];
  return 0;
}

long tk3DCalibrationDistortionSolver::numericalGradient(const double* x, double* f) const {
  stagedPass(x, f, nullptr, kSineTanGradientStep);
  return 0;
}

void tk3DCalibrationDistortionSolver::stagedPass(const double* x, double* f, double* jacobian,
                                                 double h) const {
  const int n = static_cast<int>(getSize());
  // camera[0]: the parameters x; camera[1 + 2i] and camera[2 + 2i]: x + h·eᵢ and x − h·eᵢ.
  tk_SineTanCamera camera[1 + 2 * CameraOffset::kMaxSize];
  double perturbed[CameraOffset::kMaxSize] = {};
  tk_CameraValues values;
  for (int i = 0; i < n; ++i)
    perturbed[i] = x[i];
  layout_.unpackCamera(perturbed, 0, nullptr, values);
  tfPrepareSineTanCamera(values, camera[0]);
  for (int i = 0; i < n; ++i) {
    for (int sign = 0; sign < 2; ++sign) {
      perturbed[i] = sign == 0 ? x[i] + h : x[i] - h;
      layout_.unpackCamera(perturbed, 0, nullptr, values);
      tfPrepareSineTanCamera(values, camera[1 + 2 * i + sign]);
    }
    perturbed[i] = x[i];
  }

  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));
  // sums[2i] = J(x + h·eᵢ), sums[2i + 1] = J(x − h·eᵢ); normal: Σ w·gᵢ·gⱼ (lower triangle) with
  // gᵢ the central difference of the image point times 2h.
  double sums[2 * CameraOffset::kMaxSize] = {};
  double normal[CameraOffset::kMaxSize][CameraOffset::kMaxSize] = {};
  tkVector<2> projected[2 * CameraOffset::kMaxSize];
  tkVector<2> g[CameraOffset::kMaxSize];
  for (std::size_t k = 0; k < count; ++k) {
    const ccal_crspPair2D3DWeighted& r = records[k];
    if (r.w == 0.0)
      continue;  // adds exactly nothing
    const double w = r.w;
    const tkVector<2> p(r.p.x, r.p.y);
    const tkVector<2> image =
        tfSineTanCentralImagePoints(camera, tkVector<3>(r.P.x, r.P.y, r.P.z), projected);
    for (int i = 0; i < 2 * n; ++i) {
      const tkVector<2> e = p - projected[i];
      sums[i] += w * e.dot(e);
    }
    if (jacobian == nullptr)
      continue;
    for (int i = 0; i < n; ++i)
      g[i] = projected[2 * i] - projected[2 * i + 1];
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        normal[i][j] += w * g[i].dot(g[j]);
    if (leastSquares_) {
      const double root = std::sqrt(w);
      const Eigen::Index row = 2 * static_cast<Eigen::Index>(k);
      for (int i = 0; i < n; ++i) {
        leastSquares_->a(row, i) = root * g[i].x() / (2.0 * h);
        leastSquares_->a(row + 1, i) = root * g[i].y() / (2.0 * h);
      }
      leastSquares_->r(row) = root * (image.x() - p.x());
      leastSquares_->r(row + 1) = root * (image.y() - p.y());
    }
  }
  if (f != nullptr)
    for (int i = 0; i < n; ++i)
      f[i] = (sums[2 * i] - sums[2 * i + 1]) / h;
  if (jacobian != nullptr) {
    // F ≈ 2·∇J and ∇²J ≈ 2·Σ w·(∂image/∂xᵢ)·(∂image/∂xⱼ) with ∂image/∂xᵢ ≈ gᵢ / (2h).
    const double scale = 1.0 / (h * h);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        jacobian[i + j * n] = jacobian[j + i * n] = scale * normal[i][j];
  }
}

tkCameraCalibrationParams tk3DCalibrationDistortionSolver::unpack(const tkNMMatrix& x) const {
  tk_CameraValues values;
  layout_.unpackCamera(x.data(), 0, nullptr, values);
  return tfCameraParamsFromValues(values);
}

double tk3DCalibrationDistortionSolver::cost(const tkNMMatrix& x) const {
  tk_CameraValues values;
  layout_.unpackCamera(x.data(), 0, nullptr, values);
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&records_, &records, &count));
  return tk_CameraProjection(values).weightedSquaredError(records, count);
}
