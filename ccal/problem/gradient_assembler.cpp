#include "ccal/problem/gradient_assembler.h"

#include <tk/exception.h>

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ccal::detail {

namespace {

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using ConstRows = Eigen::Map<const RowMajor>;
using Rows = Eigen::Map<RowMajor>;
using KBlock = Eigen::Map<Eigen::MatrixXd, 0, Eigen::OuterStride<>>;

}  // namespace

void GradientAssembler::add(const ResidualBlock& block) {
  const std::vector<long>& parameters = block.parameterBlocks();
  for (long b : parameters)
    if (b < 0 || b >= layout_->blockCount())
      throw tkInvariantFailure(L"GradientAssembler: a parameter block outside the layout");
  blocks_.push_back(&block);
  std::vector<Group> groups;
  long begin = 0;
  for (const ResidualBlock::RowGroup& rowGroup : block.rowGroups()) {
    Group group;
    group.begin = begin;
    group.rows = rowGroup.rows;
    group.countsInCost = rowGroup.countsInCost;
    group.runs.resize(parameters.size());
    begin += rowGroup.rows;
    for (std::size_t k = 0; k < parameters.size(); ++k) {
      if (!rowGroup.feeds[k])
        continue;
      const std::vector<bool>* mask =
          rowGroup.feedValues.empty() || rowGroup.feedValues[k].empty() ? nullptr
                                                                        : &rowGroup.feedValues[k];
      std::vector<std::pair<long, long>>& runs = group.runs[k];
      for (long a = 0; a < layout_->blockSize(parameters[k]); ++a) {
        if (mask != nullptr && !(at(a) < mask->size() && (*mask)[at(a)]))
          continue;
        if (!runs.empty() && runs.back().first + runs.back().second == a)
          ++runs.back().second;
        else
          runs.emplace_back(a, 1);
      }
      if (runs.empty())
        continue;
      group.feeds = true;
      for (long column : parameters) {
        const std::pair<long, long> pair(parameters[k], column);
        if (std::find(declared_.begin(), declared_.end(), pair) == declared_.end())
          declared_.push_back(pair);
      }
    }
    groups.push_back(std::move(group));
  }
  groups_.push_back(std::move(groups));
  std::vector<long> offsets{0};
  for (long b : parameters)
    offsets.push_back(offsets.back() + layout_->blockSize(b));
  const std::size_t total = at(offsets.back());
  offsets_.push_back(std::move(offsets));
  if (product_.size() < total * total)
    product_.resize(total * total);
  if (scaled_.size() < at(block.residualCount()) * total)
    scaled_.resize(at(block.residualCount()) * total);
  // Work space for the largest block seen.
  const std::size_t m = at(block.residualCount());
  if (residuals_.size() < m) {
    residuals_.resize(m);
    weightedResiduals_.resize(m);
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

void GradientAssembler::copyDeclared(const tkNMMatrix& from, tkNMMatrix& to) const {
  const long n = layout_->size();
  if (to.rows() != n || to.cols() != n) {
    to.resize(n, n);
    std::fill(to.data(), to.data() + n * n, 0.0);
  }
  for (const auto& [row, column] : declared_) {
    const long r0 = layout_->blockStart(row), rs = layout_->blockSize(row);
    const long c0 = layout_->blockStart(column), cs = layout_->blockSize(column);
    for (long c = c0; c < c0 + cs; ++c)
      std::copy(from.data() + r0 + c * n, from.data() + r0 + rs + c * n, to.data() + r0 + c * n);
  }
}

bool GradientAssembler::assemble(const double* x, double* f, tkNMMatrix* k, double* cost,
                                 const std::vector<bool>* active) {
  const long n = layout_->size();
  if (f != nullptr)
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
  const bool derivatives = f != nullptr || kData != nullptr;
  double sum = 0.0;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    if (active != nullptr && !(*active)[b])
      continue;
    const ResidualBlock* block = blocks_[b];
    const std::vector<long>& parameters = block->parameterBlocks();
    const std::size_t count = parameters.size();
    for (std::size_t p = 0; p < count; ++p) {
      parameterPointers_[p] = x + layout_->blockStart(parameters[p]);
      jacobianPointers_[p] = jacobians_[p].data();
    }
    const bool jacobians = derivatives && block->feedsAnything();
    if (!block->Evaluate(parameterPointers_.data(), residuals_.data(),
                         jacobians ? jacobianPointers_.data() : nullptr))
      return false;
    const double* w = block->weights().data();
    const double* r = residuals_.data();
    for (const Group& group : groups_[b]) {
      const long g0 = group.begin, gm = group.rows;
      if (group.countsInCost && cost != nullptr)
        for (long i = g0; i < g0 + gm; ++i)
          sum += w[i] * r[i] * r[i];
      if (!jacobians || !group.feeds || gm == 0)
        continue;
      double* wr = weightedResiduals_.data();
      for (long i = 0; i < gm; ++i)
        wr[i] = 2.0 * w[g0 + i] * r[g0 + i];
      const Eigen::Map<const Eigen::VectorXd> weightedR(wr, gm);
      const long total = offsets_[b].back();
      if (kData != nullptr) {
        // C = Jᵀ·2W·J over the values of every parameter block of the residual block, as the
        // symmetric product AᵀA of A = √(2W)·J (lower triangle only); K takes its fed rows.
        Rows A(scaled_.data(), gm, total);
        for (std::size_t q = 0; q < count; ++q) {
          const long size = layout_->blockSize(parameters[q]);
          const ConstRows J(jacobians_[q].data() + g0 * size, gm, size);
          A.middleCols(offsets_[b][q], size) = J;
        }
        for (long i = 0; i < gm; ++i)
          A.row(i) *= std::sqrt(2.0 * w[g0 + i]);
        Eigen::Map<Eigen::MatrixXd> C(product_.data(), total, total);
        C.setZero();
        C.selfadjointView<Eigen::Lower>().rankUpdate(A.transpose());
      }
      const Eigen::Map<const Eigen::MatrixXd> C(product_.data(), total, total);
      for (std::size_t p = 0; p < count; ++p) {
        const long rowStart = layout_->blockStart(parameters[p]);
        const long rowSize = layout_->blockSize(parameters[p]);
        const long rowOffset = offsets_[b][p];
        const ConstRows Jp(jacobians_[p].data() + g0 * rowSize, gm, rowSize);
        for (const auto& [a0, length] : group.runs[p]) {
          if (f != nullptr)
            Eigen::Map<Eigen::VectorXd>(f + rowStart + a0, length).noalias() +=
                Jp.middleCols(a0, length).transpose() * weightedR;
          if (kData == nullptr)
            continue;
          for (std::size_t q = 0; q < count; ++q) {
            const long columnStart = layout_->blockStart(parameters[q]);
            const long columnSize = layout_->blockSize(parameters[q]);
            const long columnOffset = offsets_[b][q];
            for (long c = 0; c < columnSize; ++c) {
              double* out = kData + rowStart + (columnStart + c) * n;
              const long j = columnOffset + c;
              for (long a = a0; a < a0 + length; ++a) {
                const long i = rowOffset + a;
                out[a] += i >= j ? C(i, j) : C(j, i);
              }
            }
          }
        }
      }
    }
  }
  if (cost != nullptr)
    *cost = sum;
  return true;
}

}  // namespace ccal::detail
