#include "ccal/single/calibration_distortion_solver.h"

#include "ccal/problem/gradient_assembler.h"
#include "ccal/problem/tall_qr.h"

#include <proc/csys_attention.h>
#include <tk/failure.h>

#include "platform/core/invalid_argument.h"

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

using ccal::detail::CameraOffset;
using ccal::detail::GradientAssembler;
using ccal::detail::MultiplateListResidual;
using ccal::detail::ParameterLayout;
using ccal::detail::ResidualBlock;
using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

// Work space of the sine-tangent least-squares step, sized with the correspondences.
struct tk_SineTanLeastSquares {
  Eigen::MatrixXd trialA;  // rows x n: √w·∂image/∂x at the last pass, rows x then y per point
  Eigen::VectorXd trialRows;      // rows: √w·(image − p) at the last pass
  std::vector<double> residuals;  // 2·points: image − p, from the list residual
  std::vector<double> jacobian;   // 2·points x n, row-major: ∂image/∂x
  Eigen::MatrixXd a;              // the same at the current x (taken over by compJacob)
  Eigen::VectorXd r0;
  Eigen::VectorXd r;            // Qᵀ·r0
  Eigen::VectorXd probeRows;    // √w·(image − p) at a point along the step
  Eigen::VectorXd rootWeights;  // rows: √w of each point's two rows
  Eigen::VectorXd curvature;    // rows: second directional derivative of the residuals
  Eigen::MatrixXd factored;     // a factored in place by qr
  ccal::detail::TallQR qr;
  Eigen::MatrixXd rFactor;         // n x n, upper triangle: R of A
  Eigen::VectorXd qtr;             // (Qᵀr), first n values
  Eigen::MatrixXd stacked;         // 2n x n
  Eigen::VectorXd rhs;             // 2n
  ccal::detail::TallQR stackedQr;  // factors stacked in place
};

namespace {

using RowsScope = ccal::detail::RowsScope<MultiplateListResidual>;

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
      pass_(parameterCount(model)),
      merit_(parameterCount(model)),
      records_() {
  problem_.layout = ParameterLayout::singleCamera(model);
  problem_.layout.cameraUnitValIndices({0});
  problem_.heights = {0.0};
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_construct(&records_, 0));
  meritTolerance(kFlatMerit);
  // Along the nearly flat directions of the sine-tangent lens values the cost falls by
  // rounding-sized amounts for arbitrarily long steps; demanding a share of the predicted
  // decrease keeps a short refinement from running off along them.
  if (model == tk2XformCalib2Defs::eSineTan) {
    sufficientDecrease(0.25);
    leastSquares_.reset(new tk_SineTanLeastSquares);
  } else {
    // The merit, the image cost, is one block of three, and about every other trial near the
    // end of a refinement is rejected (the mixed F's root is not the cost's minimum).
    meritFirst(true);
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
  pass_.valid = false;
  merit_.valid = false;
  assembler_.reset();  // refers to the old block
  problem_.zLists = {tk_MultiplateList{records, list.size()}};
  block_ = std::make_unique<MultiplateListResidual>(problem_, 0, ParameterLayout::Block{},
                                                    problem_.zLists.front());
  if (!leastSquares_) {
    assembler_ = std::make_unique<GradientAssembler>(problem_.layout);
    assembler_->add(*block_);
  } else {
    const Eigen::Index n = getSize();
    const Eigen::Index rows = std::max<Eigen::Index>(2 * static_cast<Eigen::Index>(list.size()), n);
    tk_SineTanLeastSquares& ls = *leastSquares_;
    ls.trialA.setZero(rows, n);  // rows beyond the points (fewer than n/2 points) stay zero
    ls.trialRows.setZero(rows);
    ls.a.setZero(rows, n);
    ls.r0.setZero(rows);
    ls.r.setZero(rows);
    ls.probeRows.setZero(rows);
    ls.rootWeights.setZero(rows);
    for (std::size_t k = 0; k < list.size(); ++k)
      ls.rootWeights(2 * k) = ls.rootWeights(2 * k + 1) = std::sqrt(list[k].second);
    ls.curvature.setZero(rows);
    ls.factored.setZero(rows, n);
    ls.rFactor.setZero(n, n);
    ls.qtr.setZero(n);
    ls.stacked.setZero(2 * n, n);
    ls.rhs.setZero(2 * n);
    ls.residuals.assign(2 * list.size(), 0.0);
    ls.jacobian.assign(2 * list.size() * static_cast<std::size_t>(n), 0.0);
  }
}

bool tk3DCalibrationDistortionSolver::meritHolds(const double* x) const {
  return merit_.valid &&
         std::memcmp(merit_.x.data(), x, sizeof(double) * static_cast<std::size_t>(getSize())) == 0;
}

bool tk3DCalibrationDistortionSolver::passHolds(const double* x) const {
  return pass_.valid &&
         std::memcmp(pass_.x.data(), x, sizeof(double) * static_cast<std::size_t>(getSize())) == 0;
}

long tk3DCalibrationDistortionSolver::evaluatePass(const double* x, bool checkAbort) const {
  if (checkAbort && problem_.layout.model() != tk2XformCalib2Defs::eSineTan) {
    const long attention = csys_attention_check();
    if (attention < 0)
      return attention;
  }
  if (!block_)
    tk_throwInvalidArgument("tk3DCalibrationDistortionSolver: no correspondences were given");
  pass_.valid = false;
  if (leastSquares_) {
    // Under eSineTan K comes from the QR factor of the step (compJacob), not from the pass.
    evaluateImageRows(x);
  } else if (meritHolds(x)) {
    const RowsScope terms(*block_, MultiplateListResidual::Rows::kTerms);
    assembler_->assemble(x, pass_.f.data(), &pass_.k, nullptr);
    pass_.cost = merit_.cost;
  } else {
    assembler_->assemble(x, pass_.f.data(), &pass_.k, &pass_.cost);
  }
  std::copy(x, x + getSize(), pass_.x.data());
  pass_.valid = true;
  return 0;
}

void tk3DCalibrationDistortionSolver::evaluateImageRows(const double* x) const {
  tk_SineTanLeastSquares& ls = *leastSquares_;
  const double* parameters[1] = {x};
  double* jacobians[1] = {ls.jacobian.data()};
  block_->Evaluate(parameters, ls.residuals.data(), jacobians);
  const long n = getSize();
  const std::size_t rows = ls.residuals.size();
  // F = 2·∇J = 4·Σ w·(∂image/∂x)ᵀ·r = 4·Aᵀ·(√w·r), J = |√w·r|².
  double cost = 0.0;
  for (std::size_t i = 0; i < rows; ++i) {
    const Eigen::Index row = static_cast<Eigen::Index>(i);
    const double root = ls.rootWeights(row);
    ls.trialRows(row) = root * ls.residuals[i];
    cost += ls.trialRows(row) * ls.trialRows(row);
    for (long a = 0; a < n; ++a)
      ls.trialA(row, a) =
          root * ls.jacobian[i * static_cast<std::size_t>(n) + static_cast<std::size_t>(a)];
  }
  Eigen::Map<Eigen::VectorXd>(pass_.f.data(), n).noalias() =
      4.0 * ls.trialA.transpose() * ls.trialRows;
  pass_.cost = cost;
}

long tk3DCalibrationDistortionSolver::Func(const tkNMMatrix& x, tkNMMatrix& f) const {
  const long status = evaluatePass(x.data(), true);
  if (status < 0)
    return status;
  std::copy(pass_.f.data(), pass_.f.data() + getSize(), f.data());
  return 0;
}

long tk3DCalibrationDistortionSolver::compJacob(const tkNMMatrix& x, const tkNMMatrix&,
                                                tkNMMatrix& jacobian) {
  const long n = getSize();
  if (x.rows() != n || x.cols() != 1)
    tk_throwInvalidArgument("tk3DCalibrationDistortionSolver::compJacob: x is not n x 1");
  if (jacobian.rows() != n || jacobian.cols() != n)
    jacobian.resize(n, n);
  if (!passHolds(x.data())) {
    const long status = evaluatePass(x.data(), true);
    if (status < 0)
      return status;
  }
  if (!leastSquares_) {
    std::copy(pass_.k.data(), pass_.k.data() + n * n, jacobian.data());
    return 0;
  }
  // The pass's rows become the iteration's; the pass no longer holds them.
  tk_SineTanLeastSquares& ls = *leastSquares_;
  ls.a.swap(ls.trialA);
  ls.r0.swap(ls.trialRows);
  pass_.valid = false;
  ls.factored = ls.a;  // A itself stays for the curvature's J·v
  ls.qr.compute(ls.factored);
  ls.rFactor = ls.factored.topRows(n).triangularView<Eigen::Upper>();
  ls.r = ls.r0;
  ls.qr.applyQt(ls.r.data());
  ls.qtr = ls.r.head(n);
  // K = 4·AᵀA = 4·RᵀR, n³ operations instead of a product over the rows.
  Eigen::Map<Eigen::MatrixXd> k(jacobian.data(), n, n);
  k.noalias() = 4.0 * ls.rFactor.transpose() * ls.rFactor;
  return 0;
}

bool tk3DCalibrationDistortionSolver::solveDampedStep(const tkNMMatrix& damping, tkNMMatrix& step) {
  if (problem_.layout.model() != tk2XformCalib2Defs::eSineTan)
    return tkDampedNewtonSolve::solveDampedStep(damping, step);
  tk_SineTanLeastSquares& ls = *leastSquares_;
  const Eigen::Index n = getSize();
  // min |A·δ + b|² + ¼·δᵀ·diag(damping)·δ for a right-hand side b, from A = Q·R:
  // min |R·δ + (Qᵀb)ₙ|² + |√(damping/4)·δ|², one QR of the stacked matrix per damping.
  ls.stacked.topRows(n) = ls.rFactor;
  ls.stacked.bottomRows(n).setZero();
  for (Eigen::Index i = 0; i < n; ++i)
    ls.stacked(n + i, i) = std::sqrt(0.25 * damping.data()[i]);
  ls.stackedQr.compute(ls.stacked);
  bend_ = 0.0;
  const auto solve = [&](const Eigen::VectorXd& qtb, double* out) {
    ls.rhs.head(n) = qtb.head(n);
    ls.rhs.tail(n).setZero();
    ls.stackedQr.applyQt(ls.rhs.data());
    Eigen::Map<Eigen::VectorXd> delta(out, n);
    delta = -ls.rhs.head(n);
    ls.stacked.topRows(n).triangularView<Eigen::Upper>().solveInPlace(delta);
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
  const double* parameters[1] = {probe};
  if (!block_->Evaluate(parameters, ls.probeRows.data(), nullptr))
    return false;
  ls.probeRows.array() *= ls.rootWeights.array();
  const Eigen::Map<const Eigen::VectorXd> v(velocity, n);
  ls.curvature.noalias() = ls.a * v;  // J·v
  ls.curvature = 2.0 / kProbe * ((ls.probeRows - ls.r0) / kProbe - ls.curvature);
  ls.qr.applyQt(ls.curvature.data());
  double acceleration[CameraOffset::kMaxSize];
  if (!solve(ls.curvature, acceleration))
    return false;
  double vNorm = 0.0, aNorm = 0.0;
  for (Eigen::Index i = 0; i < n; ++i) {
    const double d = damping.data()[i];
    vNorm += d * velocity[i] * velocity[i];
    aNorm += d * acceleration[i] * acceleration[i];
  }
  bend_ = aNorm > 0.0 ? 2.0 * std::sqrt(aNorm / vNorm) : 0.0;
  if (!(bend_ <= kLargestBend))
    return false;
  for (Eigen::Index i = 0; i < n; ++i)
    velocity[i] += 0.5 * acceleration[i];
  return std::isfinite(aNorm);
}

double tk3DCalibrationDistortionSolver::dampingDecrease(double usual) const {
  // The bend grows about in proportion to the step's length, which λ sets: fall no further than
  // to the λ whose step would bend by about kBendTarget. The usual tenfold fall after a step that
  // bent by 0.1 tries a step that bends by about 1, which is rejected and costs a pass; along the
  // lens valley every other solve was such a one, and the steps taken bent by 0.1, far below
  // what the correction handles.
  constexpr double kBendTarget = 0.5;
  if (!leastSquares_ || !(bend_ > 0.0))
    return usual;
  return std::max(1.0, std::min(usual, kBendTarget / bend_));
}

void tk3DCalibrationDistortionSolver::adjustTrial(double* x) {
  if (!leastSquares_)
    return;
  // The image residuals are affine in p0 and p2: r(p0 + d0, p2 + d2) = r + d0·g0 + d2·g2 with
  // g0, g2 their two Jacobian columns, so one 2 x 2 solve of the weighted normal equations gives
  // the minimum over the two. A trial whose columns are degenerate (all points on the axis, a
  // non-finite pass) is left as it is and judged as it is.
  tk_SineTanLeastSquares& ls = *leastSquares_;
  const double* parameters[1] = {x};
  double* jacobians[1] = {ls.jacobian.data()};
  if (!block_->Evaluate(parameters, ls.residuals.data(), jacobians))
    return;
  const std::size_t n = static_cast<std::size_t>(getSize());
  constexpr std::size_t kP0 = CameraOffset::kLensFirst, kP2 = CameraOffset::kLensFirst + 2;
  double m00 = 0.0, m01 = 0.0, m11 = 0.0, b0 = 0.0, b1 = 0.0;
  for (std::size_t i = 0; i < ls.residuals.size(); ++i) {
    const double root = ls.rootWeights(static_cast<Eigen::Index>(i));
    const double g0 = root * ls.jacobian[i * n + kP0], g2 = root * ls.jacobian[i * n + kP2];
    const double r = root * ls.residuals[i];
    m00 += g0 * g0;
    m01 += g0 * g2;
    m11 += g2 * g2;
    b0 += g0 * r;
    b1 += g2 * r;
  }
  const double det = m00 * m11 - m01 * m01;
  if (!(det > 0.0) || !std::isfinite(det))
    return;
  const double d0 = (m01 * b1 - m11 * b0) / det, d2 = (m01 * b0 - m00 * b1) / det;
  if (!std::isfinite(d0) || !std::isfinite(d2))
    return;
  x[kP0] += d0;
  x[kP2] += d2;
}

tkCameraCalibrationParams tk3DCalibrationDistortionSolver::unpack(const tkNMMatrix& x) const {
  tk_CameraValues values;
  problem_.layout.unpackCamera(x.data(), 0, nullptr, values);
  return tfCameraParamsFromValues(values);
}

double tk3DCalibrationDistortionSolver::cost(const tkNMMatrix& x) const {
  if (passHolds(x.data()))
    return pass_.cost;
  if (leastSquares_) {
    evaluatePass(x.data(), false);
    return pass_.cost;
  }
  if (!meritHolds(x.data())) {
    if (!block_)
      tk_throwInvalidArgument("tk3DCalibrationDistortionSolver: no correspondences were given");
    merit_.valid = false;
    const RowsScope image(*block_, MultiplateListResidual::Rows::kImage);
    assembler_->assemble(x.data(), nullptr, nullptr, &merit_.cost);
    std::copy(x.data(), x.data() + getSize(), merit_.x.data());
    merit_.valid = true;
  }
  return merit_.cost;
}
