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
    for (std::size_t p = 0; p < count; ++p) {
      if (!block->feeds(p))
        continue;
      const long rowStart = layout_->blockStart(parameters[p]);
      const long rowSize = layout_->blockSize(parameters[p]);
      const double* jRow = jacobians_[p].data();  // m x rowSize, row-major
      const std::vector<bool>& mask = block->valueMask(p);
      // The fed rows: [first, last) of the block, with masked-out rows skipped.
      long first = 0, last = rowSize;
      if (!mask.empty()) {
        while (first < rowSize && !mask[at(first)])
          ++first;
        while (last > first && !mask[at(last - 1)])
          --last;
      }
      const auto fed = [&](long a) { return mask.empty() || mask[at(a)]; };
      for (long i = 0; i < m; ++i) {
        const double wr = 2.0 * w[i] * r[i];
        for (long a = first; a < last; ++a)
          if (fed(a))
            f[rowStart + a] += jRow[i * rowSize + a] * wr;
      }
      if (kData == nullptr)
        continue;
      for (std::size_t q = 0; q < count; ++q) {
        const long columnStart = layout_->blockStart(parameters[q]);
        const long columnSize = layout_->blockSize(parameters[q]);
        const double* jColumn = jacobians_[q].data();  // m x columnSize, row-major
        for (long i = 0; i < m; ++i) {
          const double w2 = 2.0 * w[i];
          for (long c = 0; c < columnSize; ++c) {
            const double wj = w2 * jColumn[i * columnSize + c];
            double* column = kData + rowStart + (columnStart + c) * n;
            if (mask.empty()) {
              for (long a = 0; a < rowSize; ++a)
                column[a] += jRow[i * rowSize + a] * wj;
            } else {
              for (long a = first; a < last; ++a)
                if (mask[at(a)])
                  column[a] += jRow[i * rowSize + a] * wj;
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
