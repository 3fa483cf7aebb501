#include "platform/core/block_arrowhead_system.h"

#include "platform/proc/dense_cholesky.h"
#include "platform/proc/dense_lu.h"

#include <Eigen/Core>

#include <algorithm>
#include <cstddef>

namespace ccal::detail {
namespace {

using Matrix = Eigen::Map<Eigen::MatrixXd>;
using ConstMatrix = Eigen::Map<const Eigen::MatrixXd>;
using Vector = Eigen::Map<Eigen::VectorXd>;
using ConstVector = Eigen::Map<const Eigen::VectorXd>;

// Rows gathered at a time for the rows that reach the shared part only.
constexpr long kGatherChunk = 256;

void appendRows(const tkJacobianStructure& s, long group, std::vector<long>& rows) {
  for (long r = s.rowStart(group); r < s.rowStart(group) + s.rowCount(group); ++r)
    rows.push_back(r);
}

std::size_t size(long a, long b = 1) {
  return static_cast<std::size_t>(a) * static_cast<std::size_t>(b);
}

}  // namespace

bool BlockArrowheadSystem::newtonSystemApplies(const tkJacobianStructure& structure) {
  if (structure.empty() || structure.parameters() != structure.functionValues() ||
      structure.parameterBlocks() != structure.rowGroups())
    return false;
  bool anyEliminated = false;
  for (long b = 0; b < structure.parameterBlocks(); ++b) {
    if (structure.parameterStart(b) != structure.rowStart(b))
      return false;
    if (!structure.eliminated(b))
      continue;
    anyEliminated = true;
    for (long g : structure.groupsOf(b))
      if (g != b && structure.eliminated(g))
        return false;
  }
  return anyEliminated;
}

BlockArrowheadSystem::BlockArrowheadSystem(const tkJacobianStructure& st, Kind kind)
    : kind_(kind), m_(st.functionValues()), n_(st.parameters()) {
  std::vector<long> localOf(static_cast<std::size_t>(st.parameterBlocks()), -1);
  for (long b = 0; b < st.parameterBlocks(); ++b) {
    if (!st.eliminated(b)) {
      for (long i = st.parameterStart(b); i < st.parameterStart(b) + st.parameterCount(b); ++i)
        shared_.push_back(i);
      continue;
    }
    localOf[static_cast<std::size_t>(b)] = static_cast<long>(locals_.size());
    Local local;
    local.start = st.parameterStart(b);
    local.size = st.parameterCount(b);
    locals_.push_back(local);
  }

  if (symmetric()) {
    // How many local blocks reach each row group, and which one when it is one.
    std::vector<long> reach(static_cast<std::size_t>(st.rowGroups()), 0);
    std::vector<long> owner(static_cast<std::size_t>(st.rowGroups()), -1);
    std::vector<bool> reachedByShared(static_cast<std::size_t>(st.rowGroups()), false);
    for (long b = 0; b < st.parameterBlocks(); ++b)
      for (long g : st.groupsOf(b)) {
        const std::size_t k = static_cast<std::size_t>(g);
        if (st.eliminated(b)) {
          ++reach[k];
          owner[k] = b;
        } else {
          reachedByShared[k] = true;
        }
      }
    for (long g = 0; g < st.rowGroups(); ++g) {
      const std::size_t k = static_cast<std::size_t>(g);
      if (reach[k] >= 2)
        appendRows(st, g, couplingRows_);
      else if (reach[k] == 0 && reachedByShared[k])
        appendRows(st, g, sharedRows_);
      else if (reach[k] == 1)
        appendRows(
            st, g,
            locals_[static_cast<std::size_t>(localOf[static_cast<std::size_t>(owner[k])])].rows);
    }
    columnRowStart_.assign(size(n_ + 1), 0);
    for (long b = 0; b < st.parameterBlocks(); ++b) {
      std::vector<long> rows;
      for (long g : st.groupsOf(b))
        appendRows(st, g, rows);
      for (long i = st.parameterStart(b); i < st.parameterStart(b) + st.parameterCount(b); ++i) {
        columnRows_.insert(columnRows_.end(), rows.begin(), rows.end());
        columnRowStart_[static_cast<std::size_t>(i + 1)] = static_cast<long>(columnRows_.size());
      }
    }
  }

  const long s = static_cast<long>(shared_.size());
  const long c = static_cast<long>(couplingRows_.size());
  const long t = s + c;
  std::size_t w = 0, cs = 0, k = 0, r = 0;
  long largest = 0;
  long gather = std::min<long>(static_cast<long>(sharedRows_.size()), kGatherChunk) * s;
  for (Local& local : locals_) {
    local.offsetW = w;
    local.offsetC = cs;
    local.offsetK = k;
    local.offsetRhs = r;
    w += size(local.size, t);
    if (!symmetric())
      cs += size(s, local.size);
    k += size(local.size, local.size);
    r += size(local.size);
    largest = std::max(largest, local.size);
    gather = std::max(gather, static_cast<long>(local.rows.size()) * (local.size + s));
  }
  w_.resize(w);
  y_.resize(w);
  c_.resize(cs);
  kLocal_.resize(k);
  factor_.resize(size(largest, largest));
  pivots_.resize(static_cast<std::size_t>(std::max(largest, t)));
  local_.resize(r);
  kShared_.resize(size(s, s));
  uShared_.resize(size(c, s));
  reduced_.resize(size(t, t));
  reducedRhs_.resize(size(t));
  solution_.resize(size(t));
  zx_.resize(size(c, s));
  gather_.resize(size(gather));
}

void BlockArrowheadSystem::form(const double* matrix, const double* f, double* rhs,
                                double* diagonal) {
  if (symmetric())
    formNormalEquations(matrix, f, rhs, diagonal);
  else
    formNewtonSystem(matrix, f, rhs, diagonal);
}

void BlockArrowheadSystem::formNormalEquations(const double* jacobian, const double* f, double* rhs,
                                               double* diagonal) {
  const ConstMatrix J(jacobian, m_, n_);
  const long s = static_cast<long>(shared_.size());
  const long c = static_cast<long>(couplingRows_.size());
  const long t = s + c;
  Matrix kShared(kShared_.data(), s, s);
  kShared.setZero();

  for (Local& local : locals_) {
    const long b = local.size;
    const long rows = static_cast<long>(local.rows.size());
    Matrix gathered(gather_.data(), rows, b + s);
    for (long k = 0; k < rows; ++k) {
      const long row = local.rows[static_cast<std::size_t>(k)];
      for (long i = 0; i < b; ++i)
        gathered(k, i) = J(row, local.start + i);
      for (long i = 0; i < s; ++i)
        gathered(k, b + i) = J(row, shared_[static_cast<std::size_t>(i)]);
    }
    Matrix kLocal(kLocal_.data() + local.offsetK, b, b);
    Matrix w(w_.data() + local.offsetW, b, t);
    kLocal.noalias() = gathered.leftCols(b).transpose() * gathered.leftCols(b);
    w.leftCols(s).noalias() = gathered.leftCols(b).transpose() * gathered.rightCols(s);
    kShared.selfadjointView<Eigen::Lower>().rankUpdate(gathered.rightCols(s).transpose());
    for (long j = 0; j < c; ++j)
      for (long i = 0; i < b; ++i)
        w(i, s + j) = J(couplingRows_[static_cast<std::size_t>(j)], local.start + i);
  }
  for (std::size_t first = 0; first < sharedRows_.size(); first += kGatherChunk) {
    const long rows = static_cast<long>(
        std::min(sharedRows_.size() - first, static_cast<std::size_t>(kGatherChunk)));
    Matrix gathered(gather_.data(), rows, s);
    for (long k = 0; k < rows; ++k)
      for (long i = 0; i < s; ++i)
        gathered(k, i) = J(sharedRows_[first + static_cast<std::size_t>(k)],
                           shared_[static_cast<std::size_t>(i)]);
    kShared.selfadjointView<Eigen::Lower>().rankUpdate(gathered.transpose());
  }
  Matrix uShared(uShared_.data(), c, s);
  for (long i = 0; i < s; ++i)
    for (long j = 0; j < c; ++j)
      uShared(j, i) =
          J(couplingRows_[static_cast<std::size_t>(j)], shared_[static_cast<std::size_t>(i)]);

  for (long i = 0; i < n_; ++i) {
    const double* column = jacobian + i * m_;
    double product = 0.0, squares = 0.0;
    for (long k = columnRowStart_[static_cast<std::size_t>(i)];
         k < columnRowStart_[static_cast<std::size_t>(i + 1)]; ++k) {
      const long row = columnRows_[static_cast<std::size_t>(k)];
      product += column[row] * f[row];
      squares += column[row] * column[row];
    }
    rhs[i] = -product;
    diagonal[i] = squares;
  }
}

void BlockArrowheadSystem::formNewtonSystem(const double* k, const double* f, double* rhs,
                                            double* diagonal) {
  const ConstMatrix K(k, n_, n_);
  const long s = static_cast<long>(shared_.size());
  Matrix kShared(kShared_.data(), s, s);
  for (long j = 0; j < s; ++j)
    for (long i = 0; i < s; ++i)
      kShared(i, j) = K(shared_[static_cast<std::size_t>(i)], shared_[static_cast<std::size_t>(j)]);
  for (const Local& local : locals_) {
    const long b = local.size;
    Matrix(kLocal_.data() + local.offsetK, b, b) = K.block(local.start, local.start, b, b);
    Matrix w(w_.data() + local.offsetW, b, s);
    Matrix cb(c_.data() + local.offsetC, s, b);
    for (long j = 0; j < s; ++j) {
      const long shared = shared_[static_cast<std::size_t>(j)];
      for (long i = 0; i < b; ++i) {
        w(i, j) = K(local.start + i, shared);
        cb(j, i) = K(shared, local.start + i);
      }
    }
  }
  for (long i = 0; i < n_; ++i) {
    rhs[i] = -f[i];
    diagonal[i] = K(i, i);
  }
}

bool BlockArrowheadSystem::solve(const double* damping, const double* rhs, double* step) {
  const long s = static_cast<long>(shared_.size());
  const long c = static_cast<long>(couplingRows_.size());
  const long t = s + c;
  Matrix reduced(reduced_.data(), t, t);
  Vector reducedRhs(reducedRhs_.data(), t);
  // [K_SS + D_S, ·; U_S, −I] (the whole matrix when unsymmetric, else its lower triangle) and
  // [g_S; 0].
  if (symmetric())
    reduced.topLeftCorner(s, s).triangularView<Eigen::Lower>() = ConstMatrix(kShared_.data(), s, s);
  else
    reduced.topLeftCorner(s, s) = ConstMatrix(kShared_.data(), s, s);
  for (long i = 0; i < s; ++i) {
    reduced(i, i) += damping[shared_[static_cast<std::size_t>(i)]];
    reducedRhs(i) = rhs[shared_[static_cast<std::size_t>(i)]];
  }
  reduced.bottomLeftCorner(c, s) = ConstMatrix(uShared_.data(), c, s);
  reduced.bottomRightCorner(c, c).setZero();
  reduced.bottomRightCorner(c, c).diagonal().setConstant(-1.0);
  reducedRhs.tail(c).setZero();

  // Eliminate the local blocks, keeping A_b⁻¹ W_b and A_b⁻¹ g_b for the back substitution.
  for (Local& local : locals_) {
    const long b = local.size;
    Matrix factor(factor_.data(), b, b);
    Matrix y(y_.data() + local.offsetW, b, t);
    Vector g(local_.data() + local.offsetRhs, b);
    y = ConstMatrix(w_.data() + local.offsetW, b, t);
    g = ConstVector(rhs + local.start, b);
    if (symmetric()) {
      // V = L⁻¹W, R −= VᵀV, r −= Vᵀ(L⁻¹g); then Y = L⁻ᵀV, L⁻ᵀL⁻¹g.
      factor.triangularView<Eigen::Lower>() = ConstMatrix(kLocal_.data() + local.offsetK, b, b);
      for (long i = 0; i < b; ++i)
        factor(i, i) += damping[local.start + i];
      if (!tk_choleskyInPlace(factor))
        return false;
      factor.triangularView<Eigen::Lower>().solveInPlace(y);
      factor.triangularView<Eigen::Lower>().solveInPlace(g);
      reduced.selfadjointView<Eigen::Lower>().rankUpdate(y.transpose(), -1.0);
      reducedRhs.noalias() -= y.transpose() * g;
      factor.triangularView<Eigen::Lower>().adjoint().solveInPlace(y);
      factor.triangularView<Eigen::Lower>().adjoint().solveInPlace(g);
    } else {
      factor = ConstMatrix(kLocal_.data() + local.offsetK, b, b);
      for (long i = 0; i < b; ++i)
        factor(i, i) += damping[local.start + i];
      if (!tk_luInPlace(factor.data(), b, b, pivots_.data()))
        return false;
      for (long j = 0; j < t; ++j)
        tk_luSolveInPlace(factor.data(), b, b, pivots_.data(), y.col(j).data());
      tk_luSolveInPlace(factor.data(), b, b, pivots_.data(), g.data());
      // R −= C_b Y, r −= C_b g, a column of C_b at a time, skipping its zeros (a camera that did
      // not see the placement).
      const ConstMatrix cb(c_.data() + local.offsetC, s, b);
      for (long i = 0; i < b; ++i)
        for (long r = 0; r < s; ++r) {
          const double cri = cb(r, i);
          if (cri == 0.0)
            continue;
          for (long c = 0; c < t; ++c)
            reduced(r, c) -= cri * y(i, c);
          reducedRhs(r) -= cri * g(i);
        }
    }
  }
  if (!solveReduced())
    return false;

  const ConstVector solution(solution_.data(), t);
  for (long i = 0; i < s; ++i)
    step[shared_[static_cast<std::size_t>(i)]] = solution(i);
  for (const Local& local : locals_) {
    const long b = local.size;
    Vector out(step + local.start, b);
    out = ConstVector(local_.data() + local.offsetRhs, b);
    const ConstMatrix y(y_.data() + local.offsetW, b, t);
    if (symmetric()) {
      out.noalias() -= y * solution;
    } else {
      for (long r = 0; r < b; ++r)
        for (long c = 0; c < t; ++c)
          out(r) -= y(r, c) * solution(c);
    }
  }
  return ConstVector(step, n_).allFinite();
}

bool BlockArrowheadSystem::solveReduced() {
  const long s = static_cast<long>(shared_.size());
  const long c = static_cast<long>(couplingRows_.size());
  const long t = s + c;
  Matrix reduced(reduced_.data(), t, t);
  Vector reducedRhs(reducedRhs_.data(), t);
  Vector solution(solution_.data(), t);
  if (!symmetric()) {
    solution = reducedRhs;
    if (t == 0)
      return true;
    if (!tk_luInPlace(reduced.data(), t, t, pivots_.data()))
      return false;
    tk_luSolveInPlace(reduced.data(), t, t, pivots_.data(), solution.data());
    return true;
  }
  // T = −R_zz = L_T L_Tᵀ; Z = L_T⁻¹ X; S = R_SS + ZᵀZ; right side r_S + Zᵀ L_T⁻¹ r_z.
  // Without coupling rows (c = 0) only S = R_SS remains; Eigen's products divide by the inner
  // size, so the empty ones are skipped.
  auto lowerRight = reduced.bottomRightCorner(c, c);
  Matrix z(zx_.data(), c, s);
  auto rz = reducedRhs.tail(c);
  if (c > 0) {
    lowerRight.triangularView<Eigen::Lower>() = -lowerRight;
    if (!tk_choleskyInPlace(lowerRight))
      return false;
    z = reduced.bottomLeftCorner(c, s);
    lowerRight.triangularView<Eigen::Lower>().solveInPlace(z);
    lowerRight.triangularView<Eigen::Lower>().solveInPlace(rz);
  }
  auto upperLeft = reduced.topLeftCorner(s, s);
  auto shared = solution.head(s);
  shared = reducedRhs.head(s);
  if (c > 0) {
    upperLeft.selfadjointView<Eigen::Lower>().rankUpdate(z.transpose());
    shared.noalias() += z.transpose() * rz;
  }
  if (!tk_choleskyInPlace(upperLeft))
    return false;
  upperLeft.triangularView<Eigen::Lower>().solveInPlace(shared);
  upperLeft.triangularView<Eigen::Lower>().adjoint().solveInPlace(shared);
  // z = L_T⁻ᵀ (Z δ_S − L_T⁻¹ r_z).
  if (c > 0) {
    auto coupling = solution.tail(c);
    coupling.noalias() = z * shared - rz;
    lowerRight.triangularView<Eigen::Lower>().adjoint().solveInPlace(coupling);
  }
  return true;
}

}  // namespace ccal::detail
