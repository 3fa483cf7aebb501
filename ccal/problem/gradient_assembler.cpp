#include "ccal/problem/gradient_assembler.h"

#include <tk/exception.h>

#include <algorithm>
#include <cstddef>

namespace ccal::detail {

namespace {

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
  std::vector<std::vector<long>> fed(parameters.size());
  for (std::size_t k = 0; k < parameters.size(); ++k)
    for (long a = 0; a < layout_->blockSize(parameters[k]); ++a)
      if (block.feedsValue(k, a))
        fed[k].push_back(a);
  fedRows_.push_back(std::move(fed));
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
  if (residuals_.size() < m)
    residuals_.resize(m);
  if (jacobians_.size() < parameters.size()) {
    jacobians_.resize(parameters.size());
    jacobianPointers_.resize(parameters.size());
    parameterPointers_.resize(parameters.size());
  }
  for (long b : parameters)
    for (long c : parameters)
      if (local_.size() < at(layout_->blockSize(b) * layout_->blockSize(c)))
        local_.resize(at(layout_->blockSize(b) * layout_->blockSize(c)));
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

bool GradientAssembler::assemble(const double* x, double* f, tkNMMatrix* k, double* cost,
                                 const std::vector<bool>* active) {
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
    const bool feeds = block->feedsAnything();
    if (!block->Evaluate(parameterPointers_.data(), residuals_.data(),
                         feeds ? jacobianPointers_.data() : nullptr))
      return false;
    const long m = block->residualCount();
    const double* w = block->weights().data();
    const double* r = residuals_.data();
    if (block->countsInCost())
      for (long i = 0; i < m; ++i)
        sum += w[i] * r[i] * r[i];
    for (std::size_t p = 0; p < count; ++p) {
      const std::vector<long>& rows = fedRows_[b][p];
      if (rows.empty())
        continue;
      const long rowStart = layout_->blockStart(parameters[p]);
      const long rowSize = layout_->blockSize(parameters[p]);
      const double* jRow = jacobians_[p].data();  // m x rowSize, row-major
      for (long i = 0; i < m; ++i) {
        const double wr = 2.0 * w[i] * r[i];
        for (long a : rows)
          f[rowStart + a] += jRow[i * rowSize + a] * wr;
      }
      if (kData == nullptr)
        continue;
      for (std::size_t q = 0; q < count; ++q) {
        // K_pq += J_pᵀ·2W·J_q, accumulated in a small dense block and then added to K once.
        const long columnStart = layout_->blockStart(parameters[q]);
        const long columnSize = layout_->blockSize(parameters[q]);
        const double* jColumn = jacobians_[q].data();  // m x columnSize, row-major
        double* local = local_.data();
        std::fill(local, local + rowSize * columnSize, 0.0);
        // Two rows at a time (an observation's x and y): half the loads and stores of local.
        long i = 0;
        for (; i + 1 < m; i += 2) {
          const double w0 = 2.0 * w[i], w1 = 2.0 * w[i + 1];
          if (w0 == 0.0 && w1 == 0.0)
            continue;
          const double* jr0 = jRow + i * rowSize;
          const double* jr1 = jr0 + rowSize;
          const double* jc0 = jColumn + i * columnSize;
          const double* jc1 = jc0 + columnSize;
          for (long a : rows) {
            const double s0 = w0 * jr0[a], s1 = w1 * jr1[a];
            double* out = local + a * columnSize;
            for (long c = 0; c < columnSize; ++c)
              out[c] += s0 * jc0[c] + s1 * jc1[c];
          }
        }
        for (; i < m; ++i) {
          const double w2 = 2.0 * w[i];
          const double* jr = jRow + i * rowSize;
          const double* jc = jColumn + i * columnSize;
          for (long a : rows) {
            const double s = w2 * jr[a];
            double* out = local + a * columnSize;
            for (long c = 0; c < columnSize; ++c)
              out[c] += s * jc[c];
          }
        }
        for (long c = 0; c < columnSize; ++c) {
          double* column = kData + rowStart + (columnStart + c) * n;
          for (long a : rows)
            column[a] += local[a * columnSize + c];
        }
      }
    }
  }
  if (cost != nullptr)
    *cost = sum;
  return true;
}

}  // namespace ccal::detail
