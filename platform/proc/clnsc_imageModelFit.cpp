// Stage 1 of the line-scan fit: the image model in the values the data determine.
#include <proc/clnsc_status.h>
#include <proc/csys_attention.h>

#include "clnsc_lineScanFit.h"
#include "platform/proc/dense_step_solvers.h"
#include "platform/proc/minimizer.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// Below this reciprocal condition (smallest over largest eigenvalue of the column-scaled normal
// matrix) a system is treated as singular.
constexpr double kRcondLimit = 1e-12;
constexpr int kMaxIterations = 200;

// rcond(A): scale each column of A to unit length (a zero column stays 0), then the smallest over
// the largest eigenvalue of AᵀA.
double rcond(const MatrixXd& A) {
  MatrixXd scaled = A;
  for (Index c = 0; c < A.cols(); ++c) {
    const double norm = A.col(c).norm();
    if (norm > 0.0)
      scaled.col(c) /= norm;
    else
      scaled.col(c).setZero();
  }
  const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(scaled.transpose() * scaled,
                                                       Eigen::EigenvaluesOnly);
  const VectorXd& eigenvalues = solver.eigenvalues();  // ascending
  const double largest = eigenvalues(eigenvalues.size() - 1);
  if (!(largest > 0.0) || !std::isfinite(largest))
    return 0.0;
  return eigenvalues(0) / largest;
}

VectorXd leastSquares(const MatrixXd& A, const VectorXd& b) {
  return A.colPivHouseholderQr().solve(b);
}

// The data in normalised form: plate points centred and scaled to unit spread, u to [−1, 1],
// v to zero mean and unit deviation.
struct NormalisedData {
  MatrixXd plate;  // n×3, rows p~_i = (p.x, p.y, 1)
  VectorXd u;      // t_i
  VectorXd v;      // v̂_i
  double centreX = 0.0, centreY = 0.0, plateScale = 0.0;
  double u0 = 0.0, halfSpan = 0.0;
  double vMean = 0.0, vDeviation = 0.0;
};

bool normalise(const cmath_vect* image, const cmath_vect* plate, size_t n, NormalisedData& data) {
  const Index count = static_cast<Index>(n);
  double sumX = 0.0, sumY = 0.0, sumV = 0.0;
  double uMin = image[0].x, uMax = image[0].x;
  for (size_t i = 0; i < n; ++i) {
    sumX += plate[i].x;
    sumY += plate[i].y;
    sumV += image[i].y;
    uMin = std::min(uMin, image[i].x);
    uMax = std::max(uMax, image[i].x);
  }
  data.centreX = sumX / count;
  data.centreY = sumY / count;
  data.vMean = sumV / count;
  double spread = 0.0, vSpread = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double dx = plate[i].x - data.centreX, dy = plate[i].y - data.centreY;
    const double dv = image[i].y - data.vMean;
    spread += dx * dx + dy * dy;
    vSpread += dv * dv;
  }
  data.plateScale = std::sqrt(spread / count / 2.0);
  data.vDeviation = std::sqrt(vSpread / count);
  data.u0 = 0.5 * (uMin + uMax);
  data.halfSpan = 0.5 * (uMax - uMin);
  if (!(data.plateScale > 0.0) || !(data.halfSpan > 0.0) || !(data.vDeviation > 0.0))
    return false;

  data.plate.resize(count, 3);
  data.u.resize(count);
  data.v.resize(count);
  for (Index i = 0; i < count; ++i) {
    data.plate(i, 0) = (plate[i].x - data.centreX) / data.plateScale;
    data.plate(i, 1) = (plate[i].y - data.centreY) / data.plateScale;
    data.plate(i, 2) = 1.0;
    data.u(i) = (image[i].x - data.u0) / data.halfSpan;
    data.v(i) = (image[i].y - data.vMean) / data.vDeviation;
  }
  return true;
}

// The u model t ≈ D_κ(y), y = (a·p~)/(b·p~), b = (b1, b2, 1), over the unknowns
// θ = (a1, a2, a0, b1, b2[, κ1[, κ2]]).
class UModel {
 public:
  UModel(const MatrixXd& plate, const VectorXd& u, int lensTerms)
      : plate_(plate), u_(u), lensTerms_(lensTerms) {}

  Index unknowns() const { return 5 + lensTerms_; }

  // Residuals r_i = t_i − D_κ(y_i) and, when jacobian is given, the derivatives of the model
  // values. False when some b·p~_i <= 0 (a pole among the data) or a value is not finite.
  bool evaluate(const VectorXd& theta, VectorXd& residuals, MatrixXd* jacobian) const {
    const double kappa1 = lensTerms_ >= 1 ? theta(5) : 0.0;
    const double kappa2 = lensTerms_ >= 2 ? theta(6) : 0.0;
    for (Index i = 0; i < plate_.rows(); ++i) {
      const double px = plate_(i, 0), py = plate_(i, 1);
      const double den = theta(3) * px + theta(4) * py + 1.0;
      if (!(den > 0.0))
        return false;
      const double y = (theta(0) * px + theta(1) * py + theta(2)) / den;
      const double y2 = y * y;
      residuals(i) = u_(i) - y * (1.0 + y2 * (kappa1 + kappa2 * y2));
      if (jacobian != nullptr) {
        const double slope = 1.0 + y2 * (3.0 * kappa1 + 5.0 * kappa2 * y2);
        MatrixXd& J = *jacobian;
        J(i, 0) = slope * px / den;
        J(i, 1) = slope * py / den;
        J(i, 2) = slope / den;
        J(i, 3) = -slope * y * px / den;
        J(i, 4) = -slope * y * py / den;
        if (lensTerms_ >= 1)
          J(i, 5) = y * y2;
        if (lensTerms_ >= 2)
          J(i, 6) = y * y2 * y2;
      }
    }
    return residuals.allFinite();
  }

  // Levenberg–Marquardt on Σ r_i² from theta (a valid start); theta ends at the last accepted
  // values. Returns the negative status of csys_attention_check when the caller asks for an
  // abort (checked before every trial step), else CSTD_STATUS_OK.
  cstd_status refine(VectorXd& theta) const;

 private:
  const MatrixXd& plate_;
  const VectorXd& u_;
  int lensTerms_;
};

// The u model as the minimiser sees it: F = −r (model minus data), whose Jacobian is that of the
// model values. A pole among the data gives a non-finite F, which no step is accepted into.
class UModelProblem final : public ccal::detail::MinimizerProblem {
 public:
  explicit UModelProblem(const UModel& model, Index points)
      : model_(model),
        theta_(model.unknowns()),
        residuals_(points),
        jacobian_(points, model.unknowns()) {}

  long evaluate(const double* x, double* f) override {
    theta_ = Eigen::Map<const VectorXd>(x, theta_.size());
    Eigen::Map<VectorXd> values(f, residuals_.size());
    if (!model_.evaluate(theta_, residuals_, nullptr))
      values.setConstant(std::numeric_limits<double>::quiet_NaN());
    else
      values = -residuals_;
    return 0;
  }
  long linearize(const double* x, const double* /*f*/) override {
    theta_ = Eigen::Map<const VectorXd>(x, theta_.size());
    model_.evaluate(theta_, residuals_, &jacobian_);
    return 0;
  }
  const double* jacobian() const override { return jacobian_.data(); }

 private:
  const UModel& model_;
  VectorXd theta_;
  VectorXd residuals_;
  MatrixXd jacobian_;
};

// The abort check before every trial step.
class TrialAttention final : public ccal::detail::MinimizerCallback {
 public:
  long operator()(const ccal::detail::MinimizerState& state) override {
    return state.event == ccal::detail::MinimizerEvent::kBeforeTrial ? csys_attention_check() : 0;
  }
};

cstd_status UModel::refine(VectorXd& theta) const {
  const Index points = plate_.rows(), unknowns = this->unknowns();
  ccal::detail::MinimizerOptions options;
  options.acceptance = ccal::detail::AcceptanceRule::kSquaredNorm;
  options.maxIterations = kMaxIterations;
  options.stepTolerance = 1e-14;
  options.functionTolerance = 0.0;
  options.initialDamping = 1e-3;
  options.maxDamping = 1e16;
  options.maxDampingRaises = std::numeric_limits<long>::max();
  options.scaleByDiagonal = true;
  options.dampingFloor = 1e-12;
  options.decreaseTolerance = 1e-15;
  UModelProblem problem(*this, points);
  ccal::detail::DenseNormalEquations solver(unknowns, points);
  ccal::detail::Minimizer minimizer(unknowns, points);
  TrialAttention attention;
  VectorXd values(points);
  const ccal::detail::MinimizerSummary summary =
      minimizer.run(options, problem, solver, &attention, theta.data(), values.data());
  return summary.status < 0 ? static_cast<cstd_status>(summary.status) : CSTD_STATUS_OK;
}

// Row r over normalised coordinates -> the same row over P~ = (X, Y, 1).
void unnormalise(const NormalisedData& data, const double r[3], double out[3]) {
  out[0] = r[0] / data.plateScale;
  out[1] = r[1] / data.plateScale;
  out[2] = r[2] - (r[0] * data.centreX + r[1] * data.centreY) / data.plateScale;
}

}  // namespace

cstd_status clnsc_fitImageModel(const cmath_vect* image, const cmath_vect* plate, size_t n,
                                clnsc_imageModel* model) {
  NormalisedData data;
  if (n < 4 || !normalise(image, plate, n, data))
    return CLNSC_STATUS_SINGULAR;
  const Index count = static_cast<Index>(n);
  // Each closed-form stage below is a few passes over the data (tens of milliseconds for tens
  // of thousands of points): an abort request is checked between them.
  cstd_status attention = csys_attention_check();
  if (attention < 0)
    return attention;

  // The v row: v is affine in the plate point. Collinear plate points leave it undetermined.
  if (rcond(data.plate) < kRcondLimit)
    return CLNSC_STATUS_SINGULAR;
  const VectorXd vRow = leastSquares(data.plate, data.v);
  const VectorXd affineU = leastSquares(data.plate, data.u);

  // The u model: the richest lens model the point count allows (one equation to spare) whose
  // start and Jacobian are regular; the affine model otherwise.
  struct Candidate {
    int lensTerms;
    size_t minPoints;
  };
  const Candidate candidates[] = {{2, 8}, {1, 7}, {0, 6}};
  VectorXd theta = VectorXd::Zero(7);
  theta.head<3>() = affineU;
  int lensTerms = -1;
  VectorXd linearStart;
  bool linearStartRegular = false;
  if ((attention = csys_attention_check()) < 0)
    return attention;
  if (n >= 6) {
    // a·p~ − t·(b1·p.x + b2·p.y) = t, linear in (a1, a2, a0, b1, b2).
    MatrixXd system(count, 5);
    system.leftCols<3>() = data.plate;
    system.col(3) = -data.u.cwiseProduct(data.plate.col(0));
    system.col(4) = -data.u.cwiseProduct(data.plate.col(1));
    linearStartRegular = rcond(system) >= kRcondLimit;
    if (linearStartRegular) {
      linearStart = leastSquares(system, data.u);
      const VectorXd denominators =
          data.plate.leftCols<2>() * linearStart.segment<2>(3) + VectorXd::Ones(count);
      if (!(denominators.minCoeff() > 0.0) || !linearStart.allFinite()) {
        linearStart.head<3>() = affineU;
        linearStart.segment<2>(3).setZero();
      }
    }
  }
  for (const Candidate& candidate : candidates) {
    if (n < candidate.minPoints || !linearStartRegular)
      continue;
    if ((attention = csys_attention_check()) < 0)
      return attention;
    const UModel uModel(data.plate, data.u, candidate.lensTerms);
    VectorXd start = VectorXd::Zero(uModel.unknowns());
    start.head<5>() = linearStart;
    VectorXd residuals(count);
    MatrixXd jacobian(count, uModel.unknowns());
    if (!uModel.evaluate(start, residuals, &jacobian) || rcond(jacobian) < kRcondLimit)
      continue;
    const cstd_status status = uModel.refine(start);
    if (status < 0)
      return status;
    theta.head(start.size()) = start;
    lensTerms = candidate.lensTerms;
    break;
  }
  if (lensTerms < 0)
    theta.segment<2>(3).setZero();  // affine: b = (0, 0, 1), no lens

  const double numerator[3] = {theta(0), theta(1), theta(2)};
  const double denominator[3] = {theta(3), theta(4), 1.0};
  const double normalisedV[3] = {vRow(0), vRow(1), vRow(2)};
  clnsc_imageModel result{};
  unnormalise(data, numerator, result.numerator);
  unnormalise(data, denominator, result.denominator);
  unnormalise(data, normalisedV, result.rowV);
  for (double& value : result.rowV)
    value *= data.vDeviation;
  result.rowV[2] += data.vMean;
  result.u0 = data.u0;
  result.halfSpan = data.halfSpan;
  result.kappa1 = lensTerms >= 1 ? theta(5) : 0.0;
  result.kappa2 = lensTerms >= 2 ? theta(6) : 0.0;
  *model = result;
  return CSTD_STATUS_OK;
}
