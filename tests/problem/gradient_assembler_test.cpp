// The residual-block assembler on a toy problem whose F, K and cost are known in closed form:
// residuals r = Σ_k A_k·x_k + (Σ_k B_k·x_k)² − t per row, over the blocks of a small rig layout.
#include "ccal/problem/gradient_assembler.h"
#include "ccal/problem/wide_kernels.h"

#include <tk/exception.h>

#include <gtest/gtest.h>
#include <Eigen/Core>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace {

using ccal::detail::GradientAssembler;
using ccal::detail::ParameterLayout;
using ccal::detail::ResidualBlock;
using Dense = Eigen::MatrixXd;

// One camera (11 values), Z-rotation placements 0..2 (two blocks of 3), one arbitrary placement
// (6): blocks 0 (camera), 1, 2 (Z-rotation), 3 (arbitrary); n = 23.
ParameterLayout toyLayout() {
  return ParameterLayout::calibration(tk2XformCalib2Defs::eNoDistortion, 1, 3, 1);
}

double pseudoRandom(int i) {
  return std::sin(12.9898 * i + 78.233 * std::cos(0.37 * i));
}

class ToyBlock : public ResidualBlock {
 public:
  // rows residuals over the given layout blocks; quadratic scales the squared term (0: linear).
  // With vanishAt, the targets make every residual 0 there.
  ToyBlock(const ParameterLayout& layout, long rows, std::vector<long> blocks,
           std::vector<bool> feeds, double quadratic, int seed, const double* vanishAt = nullptr)
      : ResidualBlock(rows, blocks, std::move(feeds), weightsOf(rows, seed)),
        layout_(layout),
        blocks_(blocks),
        targets_(static_cast<std::size_t>(rows)) {
    for (long b : blocks_) {
      const long size = layout.blockSize(b);
      Dense a(rows, size), q(rows, size);
      for (long i = 0; i < rows; ++i)
        for (long c = 0; c < size; ++c) {
          a(i, c) = pseudoRandom(seed++);
          q(i, c) = quadratic * pseudoRandom(seed++);
        }
      a_.push_back(a);
      b_.push_back(q);
    }
    for (long i = 0; i < rows; ++i)
      targets_[static_cast<std::size_t>(i)] = pseudoRandom(seed++);
    if (vanishAt != nullptr) {
      std::vector<const double*> parameters;
      for (long b : blocks_)
        parameters.push_back(vanishAt + layout.blockStart(b));
      std::vector<double> r(static_cast<std::size_t>(rows));
      Evaluate(parameters.data(), r.data(), nullptr);
      for (long i = 0; i < rows; ++i)
        targets_[static_cast<std::size_t>(i)] += r[static_cast<std::size_t>(i)];
    }
  }

  bool Evaluate(const double* const* parameters, double* residuals,
                double** jacobians) const override {
    if (failing)
      return false;
    for (long i = 0; i < residualCount(); ++i) {
      double linear = -targets_[static_cast<std::size_t>(i)], inner = 0.0;
      for (std::size_t k = 0; k < blocks_.size(); ++k)
        for (long c = 0; c < a_[k].cols(); ++c) {
          linear += a_[k](i, c) * parameters[k][c];
          inner += b_[k](i, c) * parameters[k][c];
        }
      residuals[i] = linear + inner * inner;
      if (jacobians == nullptr)
        continue;
      for (std::size_t k = 0; k < blocks_.size(); ++k)
        if (jacobians[k] != nullptr)
          for (long c = 0; c < a_[k].cols(); ++c)
            jacobians[k][i * a_[k].cols() + c] = a_[k](i, c) + 2.0 * inner * b_[k](i, c);
    }
    return true;
  }

  // This block's Jacobian as m x n (zero outside its blocks) and residuals, by the same formula.
  void dense(const double* x, Dense& jacobian, Eigen::VectorXd& residuals) const {
    const long m = residualCount();
    jacobian.setZero(m, layout_.size());
    residuals.resize(m);
    std::vector<const double*> parameters;
    std::vector<Dense> blockJacobians;
    std::vector<double*> pointers;
    for (std::size_t k = 0; k < blocks_.size(); ++k) {
      parameters.push_back(x + layout_.blockStart(blocks_[k]));
      blockJacobians.emplace_back(a_[k].cols(), m);  // column-major: the transpose of row-major
    }
    for (Dense& j : blockJacobians)
      pointers.push_back(j.data());
    Evaluate(parameters.data(), residuals.data(), pointers.data());
    for (std::size_t k = 0; k < blocks_.size(); ++k)
      jacobian.middleCols(layout_.blockStart(blocks_[k]), a_[k].cols()) =
          blockJacobians[k].transpose();
  }

  bool failing = false;

 private:
  static std::vector<double> weightsOf(long rows, int seed) {
    std::vector<double> w;
    for (long i = 0; i < rows; ++i)
      w.push_back(1.0 + 0.5 * pseudoRandom(seed + 1000 + static_cast<int>(i)));
    return w;
  }

  ParameterLayout layout_;
  std::vector<long> blocks_;
  std::vector<Dense> a_, b_;
  std::vector<double> targets_;
};

// Reference: F = 2·Σ P_g·J_gᵀ·W_g·r_g and K = 2·Σ P_g·J_gᵀ·W_g·J_g over the row groups g of every
// block, P_g keeping the rows of the values group g feeds; cost = Σ r_gᵀ·W_g·r_g over the groups
// that count in it.
void reference(const ParameterLayout& layout, const std::vector<std::unique_ptr<ToyBlock>>& blocks,
               const double* x, Eigen::VectorXd& f, Dense& k, double& cost) {
  const long n = layout.size();
  f.setZero(n);
  k.setZero(n, n);
  cost = 0.0;
  for (const auto& block : blocks) {
    Dense j;
    Eigen::VectorXd r;
    block->dense(x, j, r);
    const Eigen::VectorXd w =
        Eigen::Map<const Eigen::VectorXd>(block->weights().data(), block->residualCount());
    long begin = 0;
    for (const ResidualBlock::RowGroup& group : block->rowGroups()) {
      Eigen::VectorXd keep = Eigen::VectorXd::Zero(n);
      for (std::size_t p = 0; p < block->parameterBlocks().size(); ++p) {
        if (!group.feeds[p])
          continue;
        const long start = layout.blockStart(block->parameterBlocks()[p]);
        for (long a = 0; a < layout.blockSize(block->parameterBlocks()[p]); ++a)
          keep(start + a) = group.feedValues.empty() || group.feedValues[p].empty() ||
                                    group.feedValues[p][static_cast<std::size_t>(a)]
                                ? 1.0
                                : 0.0;
      }
      const Dense jg = j.middleRows(begin, group.rows);
      const Eigen::VectorXd rg = r.segment(begin, group.rows);
      const Eigen::VectorXd wg = w.segment(begin, group.rows);
      f += 2.0 * keep.asDiagonal() * (jg.transpose() * wg.asDiagonal() * rg);
      k += 2.0 * keep.asDiagonal() * (jg.transpose() * wg.asDiagonal() * jg);
      if (group.countsInCost)
        cost += rg.dot(wg.asDiagonal() * rg);
      begin += group.rows;
    }
  }
}

std::vector<double> point(long n) {
  std::vector<double> x;
  for (long i = 0; i < n; ++i)
    x.push_back(0.5 * pseudoRandom(static_cast<int>(500 + i)));
  return x;
}

// Mixed feeding as in the calibration costs: one kind feeds the camera only, another the
// placements only, a third everything it depends on; inside the camera block two kinds outside
// the cost feed complementary values (the intrinsic and the pose rows).
std::vector<std::unique_ptr<ToyBlock>> mixedBlocks(const ParameterLayout& layout, double quadratic,
                                                   const double* vanishAt = nullptr) {
  std::vector<std::unique_ptr<ToyBlock>> blocks;
  blocks.emplace_back(new ToyBlock(layout, 14, {0, 1}, {true, false}, quadratic, 1, vanishAt));
  blocks.emplace_back(new ToyBlock(layout, 14, {0, 1}, {false, true}, quadratic, 2, vanishAt));
  blocks.emplace_back(new ToyBlock(layout, 20, {3, 0}, {true, true}, quadratic, 3, vanishAt));
  blocks.emplace_back(new ToyBlock(layout, 6, {0}, {true}, quadratic, 4, vanishAt));
  std::vector<bool> poseValues(11, false);
  for (std::size_t a = 5; a < 11; ++a)
    poseValues[a] = true;
  std::vector<bool> intrinsicValues = poseValues;
  intrinsicValues.flip();
  for (int kind = 0; kind < 2; ++kind) {
    blocks.emplace_back(
        new ToyBlock(layout, 8, {0, 1}, {true, false}, quadratic, 5 + kind, vanishAt));
    blocks.back()->feedValues(0, kind == 0 ? intrinsicValues : poseValues);
    blocks.back()->countsInCost(false);
  }
  // The same kinds stacked in one block, with a third group that only counts in the cost.
  blocks.emplace_back(new ToyBlock(layout, 18, {0, 3}, {true, true}, quadratic, 7, vanishAt));
  ResidualBlock::RowGroup intrinsic{6, {true, false}, {intrinsicValues, {}}, false};
  ResidualBlock::RowGroup pose{8, {true, true}, {poseValues, {}}, false};
  ResidualBlock::RowGroup image{4, {false, false}, {}, true};
  blocks.back()->rowGroups({intrinsic, pose, image});
  return blocks;
}

TEST(GradientAssembler, AssemblesFKAndCostOfMixedFeedingExactly) {
  const ParameterLayout layout = toyLayout();
  const long n = layout.size();
  ASSERT_EQ(n, 23);
  for (const bool wide : {true, false})
    for (double quadratic : {0.0, 0.3}) {
      SCOPED_TRACE(testing::Message() << "quadratic " << quadratic << (wide ? "" : ", portable K"));
      ccal::detail::allowWideKernels(wide);
      const auto blocks = mixedBlocks(layout, quadratic);
      GradientAssembler assembler(layout);
      for (const auto& block : blocks)
        assembler.add(*block);
      const std::vector<double> x = point(n);
      std::vector<double> f(static_cast<std::size_t>(n), 99.0);
      tkNMMatrix k;
      double cost = 0.0;
      ASSERT_TRUE(assembler.assemble(x.data(), f.data(), &k, &cost));
      Eigen::VectorXd fRef;
      Dense kRef;
      double costRef = 0.0;
      reference(layout, blocks, x.data(), fRef, kRef, costRef);
      EXPECT_NEAR(cost, costRef, 1e-12 * costRef);
      ASSERT_EQ(k.rows(), n);
      ASSERT_EQ(k.cols(), n);
      for (long i = 0; i < n; ++i) {
        EXPECT_NEAR(f[static_cast<std::size_t>(i)], fRef(i), 1e-12 * (1.0 + std::fabs(fRef(i))))
            << "F row " << i;
        for (long c = 0; c < n; ++c)
          EXPECT_NEAR(k(i, c), kRef(i, c), 1e-12 * (1.0 + std::fabs(kRef(i, c))))
              << "K(" << i << ", " << c << ")";
      }
      // Z-rotation placement 2 (block 2) has no residuals: its rows and columns are 0.
      for (long i = layout.blockStart(2); i < layout.blockStart(3); ++i)
        EXPECT_EQ(f[static_cast<std::size_t>(i)], 0.0);
    }
  ccal::detail::allowWideKernels(true);
}

// K is zero outside the declared structure, the structured solve works on it as written, and an
// assembly writes only inside the structure.
TEST(GradientAssembler, WritesOnlyTheDeclaredBlocksOfK) {
  const ParameterLayout layout = toyLayout();
  const long n = layout.size();
  const auto blocks = mixedBlocks(layout, 0.3);
  GradientAssembler assembler(layout);
  for (const auto& block : blocks)
    assembler.add(*block);
  const tkJacobianStructure structure = assembler.declaredStructure();
  ASSERT_EQ(structure.parameterBlocks(), layout.blockCount());
  for (long b = 0; b < layout.blockCount(); ++b)
    EXPECT_EQ(structure.eliminated(b), b > 0);
  // Block 1 (Z placement 1) reaches camera rows only through the block that feeds the camera,
  // the camera reaches block 1's rows through the one that feeds the placement.
  EXPECT_EQ(structure.groupsOf(0), (std::vector<long>{0, 1, 3}));
  EXPECT_EQ(structure.groupsOf(1), (std::vector<long>{0, 1}));
  EXPECT_EQ(structure.groupsOf(2), (std::vector<long>{2}));
  EXPECT_EQ(structure.groupsOf(3), (std::vector<long>{0, 3}));

  const std::vector<double> x = point(n);
  std::vector<double> f(static_cast<std::size_t>(n));
  tkNMMatrix k;
  ASSERT_TRUE(assembler.assemble(x.data(), f.data(), &k, nullptr));
  const auto declared = [&](long row, long column) {
    const std::vector<long>& groups = structure.groupsOf(structure.blockOfParameter(column));
    const long group = structure.blockOfParameter(row);
    return std::find(groups.begin(), groups.end(), group) != groups.end();
  };
  for (long i = 0; i < n; ++i)
    for (long c = 0; c < n; ++c) {
      if (!declared(i, c)) {
        EXPECT_EQ(k(i, c), 0.0) << "undeclared K(" << i << ", " << c << ")";
      }
    }

  // A later assembly leaves every undeclared entry as it found it.
  const double sentinel = 7.0;
  for (long i = 0; i < n; ++i)
    for (long c = 0; c < n; ++c)
      if (!declared(i, c))
        k(i, c) = sentinel;
  const tkNMMatrix first = k;
  ASSERT_TRUE(assembler.assemble(x.data(), f.data(), &k, nullptr));
  for (long i = 0; i < n; ++i)
    for (long c = 0; c < n; ++c)
      EXPECT_EQ(k(i, c), first(i, c)) << "K(" << i << ", " << c << ")";
}

// Where every residual vanishes and every block feeds all it depends on, K is ∂F/∂x.
TEST(GradientAssembler, KIsTheCentralDifferenceJacobianOfFWhereResidualsVanish) {
  const ParameterLayout layout = toyLayout();
  const long n = layout.size();
  const std::vector<double> x0 = point(n);
  std::vector<std::unique_ptr<ToyBlock>> blocks;
  blocks.emplace_back(new ToyBlock(layout, 16, {0, 1}, {true, true}, 0.4, 11, x0.data()));
  blocks.emplace_back(new ToyBlock(layout, 18, {2, 0}, {true, true}, 0.4, 12, x0.data()));
  blocks.emplace_back(new ToyBlock(layout, 20, {0, 3}, {true, true}, 0.4, 13, x0.data()));
  GradientAssembler assembler(layout);
  for (const auto& block : blocks)
    assembler.add(*block);
  std::vector<double> f(static_cast<std::size_t>(n));
  tkNMMatrix k;
  double cost = 1.0;
  ASSERT_TRUE(assembler.assemble(x0.data(), f.data(), &k, &cost));
  EXPECT_LT(cost, 1e-28);
  std::vector<double> x = x0, up(f.size()), down(f.size());
  const double h = 1e-6;
  for (long c = 0; c < n; ++c) {
    x[static_cast<std::size_t>(c)] = x0[static_cast<std::size_t>(c)] + h;
    ASSERT_TRUE(assembler.assemble(x.data(), up.data(), nullptr, nullptr));
    x[static_cast<std::size_t>(c)] = x0[static_cast<std::size_t>(c)] - h;
    ASSERT_TRUE(assembler.assemble(x.data(), down.data(), nullptr, nullptr));
    x[static_cast<std::size_t>(c)] = x0[static_cast<std::size_t>(c)];
    for (long i = 0; i < n; ++i) {
      const double numerical =
          (up[static_cast<std::size_t>(i)] - down[static_cast<std::size_t>(i)]) / (2.0 * h);
      EXPECT_NEAR(k(i, c), numerical, 1e-7 * (1.0 + std::fabs(numerical)))
          << "K(" << i << ", " << c << ")";
    }
  }
}

TEST(GradientAssembler, RejectsBadBlocksAndReportsFailedEvaluations) {
  const ParameterLayout layout = toyLayout();
  EXPECT_THROW((ToyBlock(layout, 4, {0, 0}, {true, true}, 0.0, 1)), tkInvariantFailure);
  EXPECT_THROW((ToyBlock(layout, 4, {0, 1}, {true}, 0.0, 1)), tkInvariantFailure);
  GradientAssembler assembler(layout);
  ToyBlock outside(ParameterLayout::calibration(tk2XformCalib2Defs::eNoDistortion, 2, 3, 1), 4, {4},
                   {true}, 0.0, 1);
  EXPECT_THROW(assembler.add(outside), tkInvariantFailure);
  ToyBlock block(layout, 4, {0, 3}, {true, true}, 0.0, 1);
  assembler.add(block);
  block.failing = true;
  std::vector<double> x = point(layout.size()), f(x.size());
  EXPECT_FALSE(assembler.assemble(x.data(), f.data(), nullptr, nullptr));
}

}  // namespace
