#include "ccal/multicam/multiplate_least_squares.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ccal::detail {
namespace {

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

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
      // The sine-tangent form: image rows with the weights doubled, a uniform factor on the
      // cost that changes neither the steps nor the comparisons of costs.
      blocks_.push_back(std::make_unique<MultiplateListResidual>(problem, c, placement, lists[k]));
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
}

double MultiplateLeastSquares::cost(const double* x) {
  try {
    return imageCost(x);
  } catch (...) {  // a trial point outside the domain of the pose values
    return HUGE_VAL;
  }
}

const Eigen::MatrixXd* MultiplateLeastSquares::reduce(const double* x) {
  try {
    return reduceRows(x) ? &triangle_ : nullptr;
  } catch (...) {
    return nullptr;
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

bool MultiplateLeastSquares::reduceRows(const double* x) {
  const ParameterLayout& layout = problem_->layout;
  const long cb = layout.cameraBlockSize();
  const long nc = layout.cameras() * cb;
  // Reduce every placement's rows to a triangle; the rows below its placement columns form the
  // reduced camera system. A list's rows reach only the placement's and its own camera's
  // columns, so each list is reduced alone first (ps + cb + 1 columns) and the placement's
  // triangle comes from its lists' stacked triangles: the same R (up to the signs of its rows)
  // for a fraction of the work of one QR over all the placement's columns.
  long reducedRows = 0;
  for (Group& group : groups_) {
    const long ps = group.placementSize;
    const long listCols = ps + cb + 1;
    const long cols = ps + static_cast<long>(group.cameras.size()) * cb + 1;
    long stackedRows = 0;
    for (std::size_t k = 0; k < group.blocks.size(); ++k)
      stackedRows += std::min(blocks_[group.blocks[k]]->residualCount(), listCols);
    group.local.setZero(stackedRows, cols);
    long row = 0;
    for (std::size_t k = 0; k < group.blocks.size(); ++k) {
      const MultiplateListResidual& block = *blocks_[group.blocks[k]];
      const double* parameters[2] = {x + layout.cameraStart(group.cameras[k]),
                                     x + std::max(group.placementStart, 0L)};
      double* jacobians[2] = {cameraJacobian_.data(), placementJacobian_.data()};
      if (!block.Evaluate(parameters, residuals_.data(), jacobians))
        return false;
      const std::vector<double>& w = block.weights();
      const long rows = block.residualCount();
      listRows_.resize(rows, listCols);
      for (long i = 0; i < rows; ++i) {
        const double s = std::sqrt(w[at(i)]);
        for (long a = 0; a < ps; ++a)
          listRows_(i, a) = s * placementJacobian_[at(i * ps + a)];
        for (long a = 0; a < cb; ++a)
          listRows_(i, ps + a) = s * cameraJacobian_[at(i * cb + a)];
        listRows_(i, listCols - 1) = s * residuals_[at(i)];
      }
      qr_.compute(listRows_);
      const long kept = std::min(rows, listCols);
      const long colStart = ps + static_cast<long>(k) * cb;
      for (long i = 0; i < kept; ++i, ++row) {
        for (long a = i; a < ps; ++a)
          group.local(row, a) = listRows_(i, a);
        for (long a = std::max(i, ps); a < ps + cb; ++a)
          group.local(row, colStart + a - ps) = listRows_(i, a);
        group.local(row, cols - 1) = listRows_(i, listCols - 1);
      }
    }
    qr_.compute(group.local);
    const long kept = std::min(stackedRows, cols);
    const Eigen::MatrixXd r = group.local.topRows(kept).triangularView<Eigen::Upper>();
    group.local = r;
    reducedRows += std::max(0L, kept - ps);
  }
  Eigen::MatrixXd& reduced = reduced_;
  reduced.setZero(std::max(reducedRows, nc + 1), nc + 1);
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
  qr_.compute(reduced);
  triangle_ = reduced.topRows(nc + 1).triangularView<Eigen::Upper>();
  return true;
}

bool MultiplateLeastSquares::complete(double* step) {
  const ParameterLayout& layout = problem_->layout;
  const long cb = layout.cameraBlockSize();
  Eigen::Map<Eigen::VectorXd> delta(step, layout.size());
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
  return delta.allFinite();
}

}  // namespace ccal::detail
