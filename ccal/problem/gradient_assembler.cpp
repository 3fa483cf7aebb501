#include "ccal/problem/gradient_assembler.h"

#include <tk/exception.h>

#include <Eigen/Core>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CCAL_ASSEMBLER_AVX2 1
#include <immintrin.h>
#else
#define CCAL_ASSEMBLER_AVX2 0
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

namespace ccal::detail {

namespace {

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using ConstRows = Eigen::Map<const RowMajor>;

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
      const std::vector<bool>* mask = rowGroup.feedValues.empty() || rowGroup.feedValues[k].empty()
                                          ? nullptr
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
  std::vector<long> offsets{0};
  for (long b : parameters)
    offsets.push_back(offsets.back() + layout_->blockSize(b));
  const std::size_t total = at(offsets.back());
  std::vector<long> columns;  // the block's values in K's columns
  for (long b : parameters)
    for (long a = 0; a < layout_->blockSize(b); ++a)
      columns.push_back(layout_->blockStart(b) + a);
  for (Group& group : groups) {
    for (std::size_t k = 0; k < parameters.size(); ++k)
      for (const auto& [a0, length] : group.runs[k])
        for (long a = a0; a < a0 + length; ++a) {
          group.fedValues.push_back(offsets[k] + a);
          group.fedRows.push_back(layout_->blockStart(parameters[k]) + a);
        }
    if (accumulator_.size() < group.fedValues.size() * total)
      accumulator_.resize(group.fedValues.size() * total);
  }
  groups_.push_back(std::move(groups));
  offsets_.push_back(std::move(offsets));
  columns_.push_back(std::move(columns));
  if (rowValues_.size() < 2 * total)
    rowValues_.resize(2 * total);
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
    jacobians_[k].grow(size);
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

namespace {

// Adds the rows [begin, end) of one row group to the fed x values accumulator acc (row-major, fed
// rows of `total` values): acc_f += Σᵢ 2wᵢ·J_i,fed(f)·J_i, two rows at a time. row(i, slot) gives
// row i of the block's Jacobian over all its values (slot 0 or 1: which of the pair). Total = 0
// reads the width from `width`; a fixed Total lets the compiler unroll the inner loop.
template <int Total>
struct AccumulateRows {
  template <typename Row>
  static void run(long begin, long end, long width, const double* w, const long* fedValues,
                  long fed, const Row& row, double* __restrict acc) {
    const long total = Total > 0 ? Total : width;
    constexpr int kRows = Total > 0 ? Total : Eigen::Dynamic;
    using Vector = Eigen::Map<Eigen::Matrix<double, kRows, 1>>;
    using ConstVector = Eigen::Map<const Eigen::Matrix<double, kRows, 1>>;
    for (long i = begin; i < end; i += 2) {
      const bool pair = i + 1 < end;  // an odd last row pairs with itself at weight 0
      const double s0 = 2.0 * w[i], s1 = pair ? 2.0 * w[i + 1] : 0.0;
      if (s0 == 0.0 && s1 == 0.0)
        continue;
      const double* __restrict v0 = row(i, 0);
      const double* __restrict v1 = pair ? row(i + 1, 1) : v0;
      for (long f = 0; f < fed; ++f) {
        const double a0 = s0 * v0[fedValues[f]], a1 = s1 * v1[fedValues[f]];
        Vector(acc + f * total, total).noalias() +=
            a0 * ConstVector(v0, total) + a1 * ConstVector(v1, total);
      }
    }
  }
};

#if CCAL_ASSEMBLER_AVX2
// The same with 4-wide fused multiply-adds, for processors that have them (wideKernels()).
template <int Total>
struct AccumulateRowsAvx2 {
  template <typename Row>
  __attribute__((target("avx2,fma"))) static void run(long begin, long end, long width,
                                                      const double* w, const long* fedValues,
                                                      long fed, const Row& row,
                                                      double* __restrict acc) {
    const long total = Total > 0 ? Total : width;
    const long wide = total - total % 4;
    for (long i = begin; i < end; i += 2) {
      const bool pair = i + 1 < end;
      const double s0 = 2.0 * w[i], s1 = pair ? 2.0 * w[i + 1] : 0.0;
      if (s0 == 0.0 && s1 == 0.0)
        continue;
      const double* __restrict v0 = row(i, 0);
      const double* __restrict v1 = pair ? row(i + 1, 1) : v0;
      for (long f = 0; f < fed; ++f) {
        const double a0 = s0 * v0[fedValues[f]], a1 = s1 * v1[fedValues[f]];
        const __m256d a0v = _mm256_set1_pd(a0), a1v = _mm256_set1_pd(a1);
        double* __restrict out = acc + f * total;
        long c = 0;
        for (; c < wide; c += 4) {
          __m256d sum = _mm256_loadu_pd(out + c);
          sum = _mm256_fmadd_pd(a0v, _mm256_loadu_pd(v0 + c), sum);
          sum = _mm256_fmadd_pd(a1v, _mm256_loadu_pd(v1 + c), sum);
          _mm256_storeu_pd(out + c, sum);
        }
        for (; c < total; ++c)
          out[c] += a0 * v0[c] + a1 * v1[c];
      }
    }
  }
};

std::atomic<bool> gWideAllowed{true};

// Whether the wide kernels run: allowed, and this processor has them (asked once).
bool wideKernels() {
  static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return wide && gWideAllowed.load(std::memory_order_relaxed);
}
#endif

// Kernel<Total>::run for the usual block widths, Kernel<0>::run for the others: the camera blocks
// of the three lens models alone (11, 14, 17) and with a Z-rotation (3) or an arbitrary (6)
// placement's block; the pose-only problems' camera (6) with either.
template <template <int> class Kernel, typename Row>
void runByWidth(long begin, long end, long total, const double* w, const long* fedValues, long fed,
                const Row& row, double* acc) {
  switch (total) {
    case 9:
      return Kernel<9>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 11:
      return Kernel<11>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 12:
      return Kernel<12>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 14:
      return Kernel<14>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 17:
      return Kernel<17>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 20:
      return Kernel<20>::run(begin, end, total, w, fedValues, fed, row, acc);
    case 23:
      return Kernel<23>::run(begin, end, total, w, fedValues, fed, row, acc);
    default:
      return Kernel<0>::run(begin, end, total, w, fedValues, fed, row, acc);
  }
}

template <typename Row>
void accumulateRowsOfWidth(long begin, long end, long total, const double* w, const long* fedValues,
                           long fed, const Row& row, double* acc) {
#if CCAL_ASSEMBLER_AVX2
  if (wideKernels())
    return runByWidth<AccumulateRowsAvx2>(begin, end, total, w, fedValues, fed, row, acc);
#endif
  runByWidth<AccumulateRows>(begin, end, total, w, fedValues, fed, row, acc);
}

}  // namespace

// K of one feeding row group: for its fed values a (rows of K) and every value c of its residual
// block, K_ac += Σᵢ 2wᵢ·J_ia·J_ic, summed into a dense fed x values accumulator and added to K
// once (no lower-triangle product to unpack, no packing of small matrices).
void GradientAssembler::accumulate(std::size_t b, const Group& group, const double* w,
                                   double* kData) {
  const std::vector<long>& parameters = blocks_[b]->parameterBlocks();
  const std::vector<long>& offsets = offsets_[b];
  const long total = offsets.back();
  const long fed = static_cast<long>(group.fedValues.size());
  double* acc = accumulator_.data();
  std::fill(acc, acc + fed * total, 0.0);
  const long begin = group.begin, end = group.begin + group.rows;
  if (parameters.size() == 1) {
    const double* J = jacobians_[0].data();
    const auto row = [J, total](long i, int) { return J + i * total; };
    accumulateRowsOfWidth(begin, end, total, w, group.fedValues.data(), fed, row, acc);
  } else {
    // Rows gathered over the parameter blocks into two work rows.
    const auto row = [&](long i, int slot) {
      double* out = rowValues_.data() + slot * total;
      for (std::size_t q = 0; q < parameters.size(); ++q) {
        const long size = offsets[q + 1] - offsets[q];
        const double* in = jacobians_[q].data() + i * size;
        for (long a = 0; a < size; ++a)
          out[offsets[q] + a] = in[a];
      }
      return static_cast<const double*>(out);
    };
    accumulateRowsOfWidth(begin, end, total, w, group.fedValues.data(), fed, row, acc);
  }
  const long n = layout_->size();
  const long* columns = columns_[b].data();
  for (long fi = 0; fi < fed; ++fi) {
    const long rowIndex = group.fedRows[at(fi)];
    const double* in = acc + fi * total;
    for (long c = 0; c < total; ++c)
      kData[rowIndex + columns[c] * n] += in[c];
  }
}

void GradientAssembler::allowWideKernels(bool allowed) {
#if CCAL_ASSEMBLER_AVX2
  gWideAllowed.store(allowed, std::memory_order_relaxed);
#else
  (void)allowed;
#endif
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
      if (kData != nullptr)
        accumulate(b, group, w, kData);
      if (f == nullptr)
        continue;
      // F: one matrix-vector product per run of fed values (blocked sums: F decides where the
      // solvers stop, so its rounding matters more than K's).
      double* wr = weightedResiduals_.data();
      for (long i = 0; i < gm; ++i)
        wr[i] = 2.0 * w[g0 + i] * r[g0 + i];
      const Eigen::Map<const Eigen::VectorXd> weightedR(wr, gm);
      for (std::size_t p = 0; p < count; ++p) {
        const long size = layout_->blockSize(parameters[p]);
        const ConstRows Jp(jacobians_[p].data() + g0 * size, gm, size);
        for (const auto& [a0, length] : group.runs[p])
          Eigen::Map<Eigen::VectorXd>(f + layout_->blockStart(parameters[p]) + a0, length)
              .noalias() += Jp.middleCols(a0, length).transpose() * weightedR;
      }
    }
  }
  if (cost != nullptr)
    *cost = sum;
  return true;
}

}  // namespace ccal::detail
