#include "ccal/problem/gradient_assembler.h"

#include <tk/exception.h>

#include <Eigen/Core>

#include <algorithm>
#include <cstddef>

namespace ccal::detail {

namespace {

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

}  // namespace

void GradientAssembler::add(const ResidualBlock& block) {
  const std::vector<long>& parameters = block.parameterBlocks();
  for (long b : parameters)
    if (b < 0 || b >= layout_->blockCount())
      throw tkInvariantFailure(L"GradientAssembler: a parameter block outside the layout");
  blocks_.push_back(&block);
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    if (!block.feeds(k))
      continue;
    for (long column : parameters) {
      const std::pair<long, long> pair(parameters[k], column);
      if (std::find(declared_.begin(), declared_.end(), pair) == declared_.end())
        declared_.push_back(pair);
    }
  }
  // Work space for the largest block seen.
  const std::size_t m = at(block.residualCount());
  if (residuals_.size() < m) {
    residuals_.resize(m);
    weighted_.resize(m);
  }
  if (jacobians_.size() < parameters.size()) {
    jacobians_.resize(parameters.size());
    jacobianPointers_.resize(parameters.size());
    parameterPointers_.resize(parameters.size());
  }
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    const std::size_t size = m * at(layout_->blockSize(parameters[k]));
    if (jacobians_[k].size() < size)
      jacobians_[k].resize(size);
    if (weightedJacobian_.size() < size)
      weightedJacobian_.resize(size);
    const std::size_t square = at(layout_->blockSize(parameters[k]));
    if (product_.size() < square * square)
      product_.resize(square * square);  // also holds any block pair of smaller blocks
  }
}

tkJacobianStructure GradientAssembler::declaredStructure() const {
  // couple(parameter block, row group): the columns of block `column` reach the rows of `row`.
  std::vector<std::pair<long, long>> couplings;
  couplings.reserve(declared_.size());
  for (const auto& [row, column] : declared_)
    couplings.emplace_back(column, row);
  return layout_->gradientStructure(couplings);
}

bool GradientAssembler::assemble(const double* x, double* f, tkNMMatrix* k, double* cost) {
  const long n = layout_->size();
  std::fill(f, f + n, 0.0);
  double* kData = nullptr;
  if (k != nullptr) {
    if (k->rows() != n || k->cols() != n) {
      k->resize(n, n);
      std::fill(k->data(), k->data() + n * n, 0.0);
    }
    kData = k->data();
    for (const auto& [row, column] : declared_) {
      const long r0 = layout_->blockStart(row), rs = layout_->blockSize(row);
      const long c0 = layout_->blockStart(column), cs = layout_->blockSize(column);
      for (long c = c0; c < c0 + cs; ++c)
        std::fill(kData + r0 + c * n, kData + r0 + rs + c * n, 0.0);
    }
  }
  double sum = 0.0;
  for (const ResidualBlock* block : blocks_) {
    const std::vector<long>& parameters = block->parameterBlocks();
    const std::size_t count = parameters.size();
    for (std::size_t p = 0; p < count; ++p) {
      parameterPointers_[p] = x + layout_->blockStart(parameters[p]);
      jacobianPointers_[p] = jacobians_[p].data();
    }
    if (!block->Evaluate(parameterPointers_.data(), residuals_.data(), jacobianPointers_.data()))
      return false;
    const long m = block->residualCount();
    const double* w = block->weights().data();
    const double* r = residuals_.data();
    if (block->countsInCost())
      for (long i = 0; i < m; ++i)
        sum += w[i] * r[i] * r[i];
    // 2·w·r and, for K, the rows of every Jacobian scaled by 2·w.
    Eigen::Map<Eigen::VectorXd> weightedResiduals(weighted_.data(), m);
    for (long i = 0; i < m; ++i)
      weightedResiduals[i] = 2.0 * w[i] * r[i];
    for (std::size_t p = 0; p < count; ++p) {
      if (!block->feeds(p))
        continue;
      const long rowStart = layout_->blockStart(parameters[p]);
      const long rowSize = layout_->blockSize(parameters[p]);
      const Eigen::Map<const RowMajor> jRow(jacobians_[p].data(), m, rowSize);
      const std::vector<bool>& mask = block->valueMask(p);
      const auto fed = [&](long a) { return mask.empty() || mask[at(a)]; };
      Eigen::Map<Eigen::VectorXd> gradient(product_.data(), rowSize);
      gradient.noalias() = jRow.transpose() * weightedResiduals;
      for (long a = 0; a < rowSize; ++a)
        if (fed(a))
          f[rowStart + a] += gradient[a];
      if (kData == nullptr)
        continue;
      for (std::size_t q = 0; q < count; ++q) {
        const long columnStart = layout_->blockStart(parameters[q]);
        const long columnSize = layout_->blockSize(parameters[q]);
        const Eigen::Map<const RowMajor> jColumn(jacobians_[q].data(), m, columnSize);
        Eigen::Map<RowMajor> weightedColumn(weightedJacobian_.data(), m, columnSize);
        for (long i = 0; i < m; ++i)
          weightedColumn.row(i) = (2.0 * w[i]) * jColumn.row(i);
        Eigen::Map<Eigen::MatrixXd> product(product_.data(), rowSize, columnSize);
        product.noalias() = jRow.transpose() * weightedColumn;
        for (long c = 0; c < columnSize; ++c) {
          double* column = kData + rowStart + (columnStart + c) * n;
          for (long a = 0; a < rowSize; ++a)
            if (fed(a))
              column[a] += product(a, c);
        }
      }
    }
  }
  if (cost != nullptr)
    *cost = sum;
  return true;
}

}  // namespace ccal::detail
