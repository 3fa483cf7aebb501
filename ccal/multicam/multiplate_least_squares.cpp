#include "ccal/multicam/multiplate_least_squares.h"

#include <Eigen/QR>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ccal::detail {
namespace {

// Singular values of the column-scaled reduced camera system below this share of the largest are
// dropped: the scale shared by the sine-tangent radius and the linear map (about 1e-11) is not
// determined, the lens-value valley (about 1e-7) is.
constexpr double kTruncation = 1e-9;
// Directions above this share are determined well enough for plain Gauss–Newton steps.
constexpr double kDetermined = 1e-6;
constexpr long kPolishIterations = 20;
constexpr long kProjections = 4;
// The valley step is tried only when the linear model puts at least this share of E along the
// valley (exact data: nearly all of it); on noisy data the valley's share is that of one
// direction of the noise, and the step to its linear minimum leaves the region where the model
// holds.
constexpr double kValleyShare = 0.1;
constexpr int kHalvings = 4;
constexpr double kSettled = 1e-6;  // relative decrease of E that ends the polishing

std::size_t at(long i) { return static_cast<std::size_t>(i); }

}  // namespace

MultiplateLeastSquares::MultiplateLeastSquares(const tk_MultiplateProblem& problem)
    : problem_(&problem) {
  using Block = ParameterLayout::Block;
  const ParameterLayout& layout = problem.layout;
  const long nC = layout.cameras();
  const auto addGroup = [&](const Block& placement, const std::vector<tk_MultiplateList>& lists,
                            long j) {
    Group group;
    if (placement.kind != ParameterLayout::Kind::kNone) {
      const long b = layout.blockIndex(placement);
      group.placementStart = layout.blockStart(b);
      group.placementSize = layout.blockSize(b);
    }
    for (long c = 0; c < nC; ++c) {
      const std::size_t k = at(j * nC + c);
      if (k >= lists.size() || lists[k].count == 0)
        continue;
      group.cameras.push_back(c);
      group.blocks.push_back(blocks_.size());
      blocks_.push_back(std::make_unique<MultiplateListResidual>(
          MultiplateListResidual::Kind::kImage, problem, c, placement, lists[k], false));
      group.rows += blocks_.back()->residualCount();
    }
    if (group.rows > 0)
      groups_.push_back(std::move(group));
  };
  for (long j = 0; j < layout.zRotationPlacements(); ++j)
    addGroup(j == 0 ? Block{} : Block{ParameterLayout::Kind::kZRotation, j}, problem.zLists, j);
  for (long j = 0; j < layout.arbitraryPlacements(); ++j)
    addGroup(Block{ParameterLayout::Kind::kArbitrary, j}, problem.aLists, j);
  long largest = 0;
  for (const auto& block : blocks_)
    largest = std::max(largest, block->residualCount());
  residuals_.resize(at(largest));
  cameraJacobian_.resize(at(largest * layout.cameraBlockSize()));
  placementJacobian_.resize(at(largest * ParameterLayout::kArbitraryBlockSize));
  trial_.resize(at(layout.size()));
  delta_.resize(at(layout.size()));
  full_.resize(at(layout.size()));
  valley_.resize(at(layout.size()));
  probe_.resize(at(layout.size()));
}

double MultiplateLeastSquares::cost(const double* x) {
  try {
    return imageCost(x);
  } catch (...) {  // a trial point outside the domain of the pose values
    return HUGE_VAL;
  }
}

bool MultiplateLeastSquares::step(const double* x, double* step, double* determined) {
  try {
    return solveStep(x, step, determined);
  } catch (...) {
    return false;
  }
}

double MultiplateLeastSquares::imageCost(const double* x) {
  const ParameterLayout& layout = problem_->layout;
  double sum = 0.0;
  for (const Group& group : groups_)
    for (std::size_t k = 0; k < group.blocks.size(); ++k) {
      const MultiplateListResidual& block = *blocks_[group.blocks[k]];
      const double* parameters[2] = {x + layout.cameraStart(group.cameras[k]),
                                     x + std::max(group.placementStart, 0L)};
      if (!block.Evaluate(parameters, residuals_.data(), nullptr))
        return HUGE_VAL;
      const std::vector<double>& w = block.weights();
      for (long i = 0; i < block.residualCount(); ++i)
        sum += w[at(i)] * residuals_[at(i)] * residuals_[at(i)];
    }
  return sum;
}

bool MultiplateLeastSquares::solveStep(const double* x, double* step, double* determined) {
  const ParameterLayout& layout = problem_->layout;
  const long cb = layout.cameraBlockSize();
  const long nc = layout.cameras() * cb;
  // Reduce every placement's rows to a triangle; the rows below its placement columns form the
  // reduced camera system.
  long reducedRows = 0;
  for (Group& group : groups_) {
    const long ps = group.placementSize;
    const long cols = ps + static_cast<long>(group.cameras.size()) * cb + 1;
    group.local.setZero(group.rows, cols);
    long row = 0;
    for (std::size_t k = 0; k < group.blocks.size(); ++k) {
      const MultiplateListResidual& block = *blocks_[group.blocks[k]];
      const double* parameters[2] = {x + layout.cameraStart(group.cameras[k]),
                                     x + std::max(group.placementStart, 0L)};
      double* jacobians[2] = {cameraJacobian_.data(), placementJacobian_.data()};
      if (!block.Evaluate(parameters, residuals_.data(), jacobians))
        return false;
      const std::vector<double>& w = block.weights();
      const long colStart = ps + static_cast<long>(k) * cb;
      for (long i = 0; i < block.residualCount(); ++i, ++row) {
        const double s = std::sqrt(w[at(i)]);
        for (long a = 0; a < ps; ++a)
          group.local(row, a) = s * placementJacobian_[at(i * ps + a)];
        for (long a = 0; a < cb; ++a)
          group.local(row, colStart + a) = s * cameraJacobian_[at(i * cb + a)];
        group.local(row, cols - 1) = s * residuals_[at(i)];
      }
    }
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(group.local);
    const long kept = std::min(group.rows, cols);
    group.local = qr.matrixQR().topRows(kept).triangularView<Eigen::Upper>();
    reducedRows += std::max(0L, kept - ps);
  }
  Eigen::MatrixXd reduced = Eigen::MatrixXd::Zero(std::max(reducedRows, nc + 1), nc + 1);
  long row = 0;
  for (const Group& group : groups_) {
    const long ps = group.placementSize;
    const long kept = group.local.rows();
    for (long i = ps; i < kept; ++i, ++row) {
      for (std::size_t k = 0; k < group.cameras.size(); ++k)
        reduced.row(row).segment(layout.cameraStart(group.cameras[k]), cb) =
            group.local.row(i).segment(ps + static_cast<long>(k) * cb, cb);
      reduced(row, nc) = group.local(i, group.local.cols() - 1);
    }
  }
  Eigen::HouseholderQR<Eigen::MatrixXd> qr(reduced);
  const Eigen::MatrixXd triangle = qr.matrixQR().topRows(nc + 1).triangularView<Eigen::Upper>();
  Eigen::VectorXd scale(nc);
  for (long i = 0; i < nc; ++i) {
    const double norm = triangle.col(i).norm();
    scale(i) = norm > 0.0 ? norm : 1.0;
  }
  const Eigen::MatrixXd scaled = triangle.topLeftCorner(nc, nc) * scale.cwiseInverse().asDiagonal();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::VectorXd& sigma = svd.singularValues();
  const Eigen::VectorXd utb = svd.matrixU().transpose() * triangle.col(nc).head(nc);
  valleyDecrease_ = 0.0;
  for (long k = 0; k < nc; ++k)
    if (sigma(k) > kTruncation * sigma(0) && sigma(k) <= kDetermined * sigma(0))
      valleyDecrease_ += utb(k) * utb(k);
  for (int pass = 0; pass < 2; ++pass) {
  const double threshold = pass == 0 ? kTruncation : kDetermined;
  Eigen::VectorXd scaledStep = Eigen::VectorXd::Zero(nc);
  for (long k = 0; k < nc; ++k)
    if (sigma(k) > threshold * sigma(0))
      scaledStep -= svd.matrixV().col(k) * (utb(k) / sigma(k));
  Eigen::Map<Eigen::VectorXd> delta(pass == 0 ? step : determined, layout.size());
  delta.setZero();
  delta.head(nc) = scaledStep.cwiseQuotient(scale);
  for (const Group& group : groups_) {
    const long ps = group.placementSize;
    if (ps == 0)
      continue;
    Eigen::VectorXd rhs = -group.local.col(group.local.cols() - 1).head(ps);
    for (std::size_t k = 0; k < group.cameras.size(); ++k)
      rhs -= group.local.block(0, ps + static_cast<long>(k) * cb, ps, cb) *
             delta.segment(layout.cameraStart(group.cameras[k]), cb);
    group.local.topLeftCorner(ps, ps).triangularView<Eigen::Upper>().solveInPlace(rhs);
    delta.segment(group.placementStart, ps) = rhs;
  }
  if (!delta.allFinite())
    return false;
  }
  return true;
}

double MultiplateLeastSquares::project(double* y, double current) {
  const long n = problem_->layout.size();
  for (long k = 0; k < kProjections; ++k) {
    if (!step(y, valley_.data(), delta_.data()))
      break;
    for (long i = 0; i < n; ++i)
      probe_[at(i)] = y[i] + delta_[at(i)];
    const double c = cost(probe_.data());
    if (!(c < current))
      break;
    std::copy(probe_.begin(), probe_.end(), y);
    const bool settled = current - c <= kSettled * current;
    current = c;
    if (settled)
      break;
  }
  return current;
}

long MultiplateLeastSquares::polish(double* x) {
  const long n = problem_->layout.size();
  double current = project(x, cost(x));
  long accepted = 0;
  for (long it = 0; it < kPolishIterations && std::isfinite(current) && current > 0.0; ++it) {
    if (!step(x, full_.data(), delta_.data()) || !(valleyDecrease_ >= kValleyShare * current))
      break;
    // The valley's share of the step, followed by a return to the valley floor along the
    // determined directions.
    double t = 1.0, trialCost = HUGE_VAL;
    for (int h = 0; h <= kHalvings; ++h, t *= 0.5) {
      for (long i = 0; i < n; ++i)
        trial_[at(i)] = x[i] + t * (full_[at(i)] - delta_[at(i)]);
      trialCost = project(trial_.data(), cost(trial_.data()));
      if (trialCost < current)
        break;
    }
    if (!(trialCost < current))
      break;
    std::copy(trial_.begin(), trial_.end(), x);
    ++accepted;
    const bool settled = current - trialCost <= kSettled * current;
    current = trialCost;
    if (settled)
      break;
  }
  return accepted;
}

}  // namespace ccal::detail
