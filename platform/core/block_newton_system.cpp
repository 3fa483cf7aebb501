#include "platform/core/block_newton_system.h"

#include "platform/core/dense_lu.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

bool tk_BlockNewtonSystem::applies(const tkJacobianStructure& structure) {
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
    // No other eliminated block may reach b's rows, nor b the rows of another eliminated block.
    for (long g : structure.groupsOf(b))
      if (g != b && structure.eliminated(g))
        return false;
  }
  return anyEliminated;
}

tk_BlockNewtonSystem::tk_BlockNewtonSystem(const tkJacobianStructure& structure)
    : n_(structure.parameters()) {
  long largest = 0;
  for (long b = 0; b < structure.parameterBlocks(); ++b) {
    const long start = structure.parameterStart(b);
    const long size = structure.parameterCount(b);
    if (structure.eliminated(b)) {
      locals_.push_back({start, size});
      largest = std::max(largest, size);
    } else {
      for (long i = 0; i < size; ++i)
        shared_.push_back(start + i);
    }
  }
  const std::size_t s = shared_.size();
  a_.resize(static_cast<std::size_t>(largest * largest));
  pivots_.resize(std::max(static_cast<std::size_t>(largest), s));
  std::size_t localCount = 0;
  for (const Local& local : locals_)
    localCount += static_cast<std::size_t>(local.size);
  x_.resize(localCount * (s + 1));
  reduced_.resize(s * s);
  reducedRhs_.resize(s);
}

bool tk_BlockNewtonSystem::solve(const double* k, const double* f, const double* damping,
                                 double* step) {
  const long n = n_;
  const long s = static_cast<long>(shared_.size());
  const auto at = [&](long row, long column) { return k[row + column * n]; };

  // The shared block K_SS + D_S and −F_S.
  for (long c = 0; c < s; ++c) {
    for (long r = 0; r < s; ++r)
      reduced_[static_cast<std::size_t>(r + c * s)] = at(shared_[r], shared_[c]);
    reduced_[static_cast<std::size_t>(c + c * s)] += damping[shared_[c]];
    reducedRhs_[static_cast<std::size_t>(c)] = -f[shared_[c]];
  }

  double* x = x_.data();
  for (const Local& local : locals_) {
    const long nb = local.size;
    // A_b + D_b, factored.
    for (long c = 0; c < nb; ++c) {
      for (long r = 0; r < nb; ++r)
        a_[static_cast<std::size_t>(r + c * nb)] = at(local.start + r, local.start + c);
      a_[static_cast<std::size_t>(c + c * nb)] += damping[local.start + c];
    }
    if (!tk_luInPlace(a_.data(), nb, nb, pivots_.data()))
      return false;
    // X = A_b⁻¹ [B_b | F_b], column by column (nb x (s + 1), column-major).
    for (long c = 0; c <= s; ++c) {
      double* column = x + c * nb;
      for (long r = 0; r < nb; ++r)
        column[r] = c < s ? at(local.start + r, shared_[c]) : f[local.start + r];
      tk_luSolveInPlace(a_.data(), nb, nb, pivots_.data(), column);
    }
    // reduced −= C_b X_B, rhs += C_b X_F.
    for (long i = 0; i < nb; ++i) {
      const long column = local.start + i;
      for (long r = 0; r < s; ++r) {
        const double cri = at(shared_[r], column);
        if (cri == 0.0)
          continue;
        for (long c = 0; c < s; ++c)
          reduced_[static_cast<std::size_t>(r + c * s)] -= cri * x[i + c * nb];
        reducedRhs_[static_cast<std::size_t>(r)] += cri * x[i + s * nb];
      }
    }
    x += nb * (s + 1);
  }

  if (s > 0) {
    if (!tk_luInPlace(reduced_.data(), s, s, pivots_.data()))
      return false;
    tk_luSolveInPlace(reduced_.data(), s, s, pivots_.data(), reducedRhs_.data());
  }
  for (long c = 0; c < s; ++c)
    step[shared_[c]] = reducedRhs_[static_cast<std::size_t>(c)];

  // δ_b = −(X_F + X_B δ_S).
  x = x_.data();
  for (const Local& local : locals_) {
    const long nb = local.size;
    for (long r = 0; r < nb; ++r) {
      double value = x[r + s * nb];
      for (long c = 0; c < s; ++c)
        value += x[r + c * nb] * reducedRhs_[static_cast<std::size_t>(c)];
      step[local.start + r] = -value;
    }
    x += nb * (s + 1);
  }
  for (long i = 0; i < n; ++i)
    if (!std::isfinite(step[i]))
      return false;
  return true;
}
