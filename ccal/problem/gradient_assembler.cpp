#include "ccal/problem/gradient_assembler.h"

#include <tk/exception.h>

#include <Eigen/Core>

#include "ccal/problem/wide_kernels.h"

#if CCAL_WIDE_KERNELS
#include <immintrin.h>
#endif

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

// Adds the `count` rows of one row group to the fed values accumulator acc (row-major, fed rows
// of `total` values): acc_f += Σᵢ 2wᵢ·J_i,fed(f)·J_i, two rows at a time. Row i of the group's
// Jacobian over all its values is at J + i·total. Total = 0 reads the width from `width`; a
// fixed Total lets the compiler unroll the inner loop.
template <int Total>
struct AccumulateRows {
  static void run(long count, long width, const double* w, const long* fedValues, long fed,
                  const double* J, double* __restrict acc) {
    const long total = Total > 0 ? Total : width;
    constexpr int kRows = Total > 0 ? Total : Eigen::Dynamic;
    using Vector = Eigen::Map<Eigen::Matrix<double, kRows, 1>>;
    using ConstVector = Eigen::Map<const Eigen::Matrix<double, kRows, 1>>;
    for (long i = 0; i < count; i += 2) {
      const bool pair = i + 1 < count;  // an odd last row pairs with itself at weight 0
      const double s0 = 2.0 * w[i], s1 = pair ? 2.0 * w[i + 1] : 0.0;
      if (s0 == 0.0 && s1 == 0.0)
        continue;
      const double* __restrict v0 = J + i * total;
      const double* __restrict v1 = pair ? v0 + total : v0;
      for (long f = 0; f < fed; ++f) {
        const double a0 = s0 * v0[fedValues[f]], a1 = s1 * v1[fedValues[f]];
        Vector(acc + f * total, total).noalias() +=
            a0 * ConstVector(v0, total) + a1 * ConstVector(v1, total);
      }
    }
  }
};

#if CCAL_WIDE_KERNELS
// The same sums with 4-wide fused multiply-adds, for processors that have them (wideKernels()),
// blocked in registers: two fed values' rows of acc over up to 16 columns (kChunks 4-wide
// chunks, the last one masked to `mask` when the columns end inside it) stay in registers while
// all the group's rows stream past, instead of acc being loaded and stored for every pair of
// rows.
// The lanes of a last 4-wide chunk that hold values when `tail` (0 .. 3) values end inside it:
// all four for 0.
CCAL_WIDE_TARGET __m256i chunkMask(long tail) {
  return _mm256_set_epi64x(tail == 0 || tail > 3 ? -1 : 0, tail == 0 || tail > 2 ? -1 : 0,
                           tail == 0 || tail > 1 ? -1 : 0, -1);
}

template <int kChunks, bool kMasked>
CCAL_WIDE_TARGET void accumulateTile(long count, long total, const double* w, const long* fed0,
                                     bool two, const double* J, long c0, __m256i mask,
                                     double* __restrict out0, double* __restrict out1) {
  __m256d sum0[kChunks], sum1[kChunks];
  for (int k = 0; k < kChunks; ++k)
    sum0[k] = sum1[k] = _mm256_setzero_pd();
  const long f0 = fed0[0], f1 = two ? fed0[1] : fed0[0];
  for (long i = 0; i < count; i += 2) {
    // The portable kernel's pairs, written out again: a shared helper returning them cost the
    // tile loop 12 % more instructions.
    const bool pair = i + 1 < count;  // an odd last row pairs with itself at weight 0
    const double s0 = 2.0 * w[i], s1 = pair ? 2.0 * w[i + 1] : 0.0;
    if (s0 == 0.0 && s1 == 0.0)
      continue;
    const double* __restrict v0 = J + i * total;
    const double* __restrict v1 = pair ? v0 + total : v0;
    const __m256d b00 = _mm256_set1_pd(s0 * v0[f0]), b01 = _mm256_set1_pd(s1 * v1[f0]);
    const __m256d b10 = _mm256_set1_pd(s0 * v0[f1]), b11 = _mm256_set1_pd(s1 * v1[f1]);
    for (int k = 0; k < kChunks; ++k) {
      const bool masked = kMasked && k == kChunks - 1;
      const __m256d x0 =
          masked ? _mm256_maskload_pd(c0 + 4 * k + v0, mask) : _mm256_loadu_pd(c0 + 4 * k + v0);
      const __m256d x1 =
          masked ? _mm256_maskload_pd(c0 + 4 * k + v1, mask) : _mm256_loadu_pd(c0 + 4 * k + v1);
      sum0[k] = _mm256_fmadd_pd(b01, x1, _mm256_fmadd_pd(b00, x0, sum0[k]));
      sum1[k] = _mm256_fmadd_pd(b11, x1, _mm256_fmadd_pd(b10, x0, sum1[k]));
    }
  }
  for (int k = 0; k < kChunks; ++k) {
    if (kMasked && k == kChunks - 1) {
      _mm256_maskstore_pd(out0 + 4 * k, mask, sum0[k]);
      if (two)
        _mm256_maskstore_pd(out1 + 4 * k, mask, sum1[k]);
    } else {
      _mm256_storeu_pd(out0 + 4 * k, sum0[k]);
      if (two)
        _mm256_storeu_pd(out1 + 4 * k, sum1[k]);
    }
  }
}

template <bool kMasked>
CCAL_WIDE_TARGET void accumulateTiles(long chunks, long count, long total, const double* w,
                                      const long* fed0, bool two, const double* J, long c0,
                                      __m256i mask, double* out0, double* out1) {
  switch (chunks) {
    case 1:
      return accumulateTile<1, kMasked>(count, total, w, fed0, two, J, c0, mask, out0, out1);
    case 2:
      return accumulateTile<2, kMasked>(count, total, w, fed0, two, J, c0, mask, out0, out1);
    case 3:
      return accumulateTile<3, kMasked>(count, total, w, fed0, two, J, c0, mask, out0, out1);
    default:
      return accumulateTile<4, kMasked>(count, total, w, fed0, two, J, c0, mask, out0, out1);
  }
}

CCAL_WIDE_TARGET void accumulateRowsAvx2(long count, long total, const double* w,
                                         const long* fedValues, long fed, const double* J,
                                         double* acc) {
  for (long c0 = 0; c0 < total; c0 += 16) {
    const long columns = std::min<long>(16, total - c0);
    const long tail = columns % 4;
    const long chunks = (columns + 3) / 4;
    const __m256i mask = chunkMask(tail);
    for (long f = 0; f < fed; f += 2) {
      const bool two = f + 1 < fed;
      double* out0 = acc + f * total + c0;
      double* out1 = two ? out0 + total : out0;
      if (tail == 0)
        accumulateTiles<false>(chunks, count, total, w, fedValues + f, two, J, c0, mask, out0,
                               out1);
      else
        accumulateTiles<true>(chunks, count, total, w, fedValues + f, two, J, c0, mask, out0, out1);
    }
  }
}

// out[a] += Σᵢ wr[i]·J[i·stride + a] for a < `length` (at most 16, kChunks 4-wide chunks, the last
// one masked to `mask` when the values end inside it), the sums in registers over all rows.
template <int kChunks, bool kMasked>
CCAL_WIDE_TARGET void gradientRun(long count, long stride, const double* wr, const double* J,
                                  __m256i mask, double* out) {
  __m256d sum[kChunks];
  for (int k = 0; k < kChunks; ++k)
    sum[k] = _mm256_setzero_pd();
  for (long i = 0; i < count; ++i) {
    const __m256d s = _mm256_set1_pd(wr[i]);
    const double* row = J + i * stride;
    for (int k = 0; k < kChunks; ++k) {
      const bool masked = kMasked && k == kChunks - 1;
      const __m256d x =
          masked ? _mm256_maskload_pd(row + 4 * k, mask) : _mm256_loadu_pd(row + 4 * k);
      sum[k] = _mm256_fmadd_pd(s, x, sum[k]);
    }
  }
  for (int k = 0; k < kChunks; ++k) {
    const bool masked = kMasked && k == kChunks - 1;
    const __m256d total = _mm256_add_pd(
        masked ? _mm256_maskload_pd(out + 4 * k, mask) : _mm256_loadu_pd(out + 4 * k), sum[k]);
    if (masked)
      _mm256_maskstore_pd(out + 4 * k, mask, total);
    else
      _mm256_storeu_pd(out + 4 * k, total);
  }
}

template <bool kMasked>
CCAL_WIDE_TARGET void gradientRunOf(long chunks, long count, long stride, const double* wr,
                                    const double* J, __m256i mask, double* out) {
  switch (chunks) {
    case 1:
      return gradientRun<1, kMasked>(count, stride, wr, J, mask, out);
    case 2:
      return gradientRun<2, kMasked>(count, stride, wr, J, mask, out);
    case 3:
      return gradientRun<3, kMasked>(count, stride, wr, J, mask, out);
    default:
      return gradientRun<4, kMasked>(count, stride, wr, J, mask, out);
  }
}

// F's values a0 .. a0 + length of one run: out[a] += Σᵢ wr[i]·J[i·stride + a0 + a].
CCAL_WIDE_TARGET void gradientRunAvx2(long count, long stride, const double* wr, const double* J,
                                      long length, double* out) {
  for (long a = 0; a < length; a += 16) {
    const long values = std::min<long>(16, length - a);
    const long tail = values % 4;
    const __m256i mask = chunkMask(tail);
    if (tail == 0)
      gradientRunOf<false>((values + 3) / 4, count, stride, wr, J + a, mask, out + a);
    else
      gradientRunOf<true>((values + 3) / 4, count, stride, wr, J + a, mask, out + a);
  }
}

#endif

// The wide kernel where it runs; else AccumulateRows<Total>::run for the usual block widths,
// AccumulateRows<0>::run for the others:
// the camera blocks of the three lens models alone (11, 14, 17) and with a Z-rotation (3) or an
// arbitrary (6) placement's block; the pose-only problems' camera (6) with either.
void accumulateRowsOfWidth(long count, long total, const double* w, const long* fedValues, long fed,
                           const double* J, double* acc) {
#if CCAL_WIDE_KERNELS
  if (wideKernels())
    return accumulateRowsAvx2(count, total, w, fedValues, fed, J, acc);
#endif
  switch (total) {
    case 9:
      return AccumulateRows<9>::run(count, total, w, fedValues, fed, J, acc);
    case 11:
      return AccumulateRows<11>::run(count, total, w, fedValues, fed, J, acc);
    case 12:
      return AccumulateRows<12>::run(count, total, w, fedValues, fed, J, acc);
    case 14:
      return AccumulateRows<14>::run(count, total, w, fedValues, fed, J, acc);
    case 17:
      return AccumulateRows<17>::run(count, total, w, fedValues, fed, J, acc);
    case 20:
      return AccumulateRows<20>::run(count, total, w, fedValues, fed, J, acc);
    case 23:
      return AccumulateRows<23>::run(count, total, w, fedValues, fed, J, acc);
    default:
      return AccumulateRows<0>::run(count, total, w, fedValues, fed, J, acc);
  }
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
  const long begin = group.begin, count = group.rows;
  const double* J = jacobians_[0].data() + begin * total;
  if (parameters.size() > 1) {
    // The group's rows gathered over the parameter blocks.
    gathered_.grow(static_cast<std::size_t>(count * total));
    double* out = gathered_.data();
    for (long i = begin; i < begin + count; ++i, out += total)
      for (std::size_t q = 0; q < parameters.size(); ++q) {
        const long size = offsets[q + 1] - offsets[q];
        std::copy(jacobians_[q].data() + i * size, jacobians_[q].data() + (i + 1) * size,
                  out + offsets[q]);
      }
    J = gathered_.data();
  }
  accumulateRowsOfWidth(count, total, w + begin, group.fedValues.data(), fed, J, acc);
  const long n = layout_->size();
  const long* columns = columns_[b].data();
  for (long fi = 0; fi < fed; ++fi) {
    const long rowIndex = group.fedRows[at(fi)];
    const double* in = acc + fi * total;
    for (long c = 0; c < total; ++c)
      kData[rowIndex + columns[c] * n] += in[c];
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
      if (kData != nullptr)
        accumulate(b, group, w, kData);
      if (f == nullptr)
        continue;
      // F: per run of fed values Σᵢ 2wᵢrᵢ·J_i,run, the wide kernel's sums running over the rows
      // in registers, the portable code's a matrix-vector product.
      double* wr = weightedResiduals_.data();
      for (long i = 0; i < gm; ++i)
        wr[i] = 2.0 * w[g0 + i] * r[g0 + i];
      const Eigen::Map<const Eigen::VectorXd> weightedR(wr, gm);
      for (std::size_t p = 0; p < count; ++p) {
        const long size = layout_->blockSize(parameters[p]);
        const double* J = jacobians_[p].data() + g0 * size;
        for (const auto& [a0, length] : group.runs[p]) {
          double* out = f + layout_->blockStart(parameters[p]) + a0;
#if CCAL_WIDE_KERNELS
          if (wideKernels()) {
            gradientRunAvx2(gm, size, wr, J + a0, length, out);
            continue;
          }
#endif
          Eigen::Map<Eigen::VectorXd>(out, length).noalias() +=
              ConstRows(J, gm, size).middleCols(a0, length).transpose() * weightedR;
        }
      }
    }
  }
  if (cost != nullptr)
    *cost = sum;
  return true;
}

}  // namespace ccal::detail
