#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/nm_matrix.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

tkNMMatrix fromRows(long rows, long cols, const std::vector<double>& values) {
  tkNMMatrix m(rows, cols);
  for (long r = 0; r < rows; ++r) {
    for (long c = 0; c < cols; ++c)
      m(r, c) = values[static_cast<size_t>(r * cols + c)];
  }
  return m;
}

tkNMMatrix randomMatrix(long rows, long cols, unsigned seed) {
  std::mt19937 engine(seed);
  tkNMMatrix m(rows, cols);
  for (long c = 0; c < cols; ++c) {
    for (long r = 0; r < rows; ++r)
      m(r, c) = static_cast<double>(engine()) / engine.max() - 0.5;
  }
  return m;
}

double maxAbsDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long r = 0; r < a.rows(); ++r) {
    for (long c = 0; c < a.cols(); ++c)
      largest = std::max(largest, std::fabs(a(r, c) - b(r, c)));
  }
  return largest;
}

}  // namespace

TEST(NMMatrixStorage, ZeroFilledColumnMajorAndRangeChecked) {
  tkNMMatrix m(2, 3);
  EXPECT_EQ(m.rows(), 2);
  EXPECT_EQ(m.cols(), 3);
  for (long i = 0; i < m.size(); ++i)
    EXPECT_EQ(m.data()[i], 0.0);
  m.element(1, 2, 7.5);
  m(0, 1) = -2.0;
  EXPECT_EQ(m.element(1, 2), 7.5);
  EXPECT_EQ(m.data()[1 + 2 * 2], 7.5) << "element (r, c) must live at r + c * rows";
  EXPECT_EQ(m.data()[0 + 1 * 2], -2.0);

  const tkNMMatrix copy = m;
  m(1, 2) = 0.0;
  EXPECT_EQ(copy(1, 2), 7.5) << "copies must be deep";

  EXPECT_THROW(m(2, 0), std::out_of_range);
  EXPECT_THROW(m.element(0, -1), std::out_of_range);
  EXPECT_THROW(tkNMMatrix(-1, 2), tkInvariantFailure);

  m.resize(3, 1);
  EXPECT_EQ(m.rows(), 3);
  EXPECT_EQ(m(2, 0), 0.0);
  EXPECT_TRUE(tkNMMatrix().empty());
}

TEST(NMMatrixStorage, TransposeAndProduct) {
  const tkNMMatrix a = fromRows(2, 3, {1, 2, 3, 4, 5, 6});
  const tkNMMatrix product = a * a.transpose();
  EXPECT_EQ(maxAbsDifference(product, fromRows(2, 2, {14, 32, 32, 77})), 0.0);
  EXPECT_THROW(a * a, tkInvariantFailure);
}

TEST(NMMatrixEigen, SmallestEigenvectorOfNormalMatrixSpansTheNullSpace) {
  // A (20 x 12) has the one-dimensional null space spanned by nullVector; its normal matrix
  // AᵀA then has eigenvalue 0 with that eigenvector.
  std::vector<double> nullVector(12);
  for (size_t k = 0; k < 12; ++k)
    nullVector[k] = std::cos(0.7 * static_cast<double>(k) + 0.3);
  double length = 0.0;
  for (double v : nullVector)
    length += v * v;
  for (double& v : nullVector)
    v /= std::sqrt(length);

  tkNMMatrix a = randomMatrix(20, 12, 11);
  for (long r = 0; r < 20; ++r) {
    double along = 0.0;
    for (long c = 0; c < 12; ++c)
      along += a(r, c) * nullVector[static_cast<size_t>(c)];
    for (long c = 0; c < 12; ++c)
      a(r, c) -= along * nullVector[static_cast<size_t>(c)];
  }
  const tkNMMatrix normal = a.transpose() * a;

  std::vector<double> re, im;
  tkNMMatrix vectors;
  normal.eigenvalues(true, re, im, vectors);
  ASSERT_EQ(re.size(), 12u);
  ASSERT_EQ(vectors.rows(), 12);

  size_t smallest = 0;
  for (size_t k = 0; k < re.size(); ++k) {
    EXPECT_EQ(im[k], 0.0);
    if (std::fabs(re[k]) < std::fabs(re[smallest]))
      smallest = k;
  }
  EXPECT_LT(std::fabs(re[smallest]), 1e-14);
  double cosine = 0.0;
  for (long r = 0; r < 12; ++r) {
    cosine += vectors(r, static_cast<long>(smallest)) * nullVector[static_cast<size_t>(r)];
  }
  EXPECT_NEAR(std::fabs(cosine), 1.0, 1e-12) << "eigenvector not parallel to the null vector";

  // Every pair satisfies A v = λ v with unit v.
  const tkNMMatrix image = normal * vectors;
  for (long k = 0; k < 12; ++k) {
    double normSquared = 0.0;
    for (long r = 0; r < 12; ++r) {
      normSquared += vectors(r, k) * vectors(r, k);
      EXPECT_NEAR(image(r, k), re[static_cast<size_t>(k)] * vectors(r, k), 1e-13);
    }
    EXPECT_NEAR(normSquared, 1.0, 1e-13);
  }
}

TEST(NMMatrixEigen, NonSymmetricMatrixWithComplexPair) {
  // Similar to diag-block(rotation-scaling [1 -2; 2 1], 3, -0.5): eigenvalues 1 ± 2i, 3, -0.5.
  const tkNMMatrix block = fromRows(4, 4, {1, -2, 0, 0, 2, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0, -0.5});
  const tkNMMatrix basis = fromRows(4, 4, {2, 1, 0, 1, 0, 1, 1, 0, 1, 0, 3, 1, 0, 1, 0, 2});
  std::vector<double> re, im;
  tkNMMatrix basisInverse;
  {
    double condition = 0.0;
    basisInverse =
        tkNMMatrix::solve(basis, fromRows(4, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}),
                          false, condition, 1e8);
  }
  const tkNMMatrix matrix = basis * block * basisInverse;

  tkNMMatrix vectors;
  matrix.eigenvalues(true, re, im, vectors);
  std::vector<std::complex<double>> values;
  for (size_t k = 0; k < 4; ++k)
    values.emplace_back(re[k], im[k]);
  auto has = [&](std::complex<double> expected) {
    return std::any_of(values.begin(), values.end(),
                       [&](std::complex<double> v) { return std::abs(v - expected) < 1e-12; });
  };
  EXPECT_TRUE(has({1, 2}) && has({1, -2}) && has({3, 0}) && has({-0.5, 0}));

  // Real eigenvalues: A v = λ v. Complex pair at k, k+1: v = col k + i col (k+1) for re + i im.
  for (long k = 0; k < 4; ++k) {
    const size_t kk = static_cast<size_t>(k);
    if (im[kk] == 0.0) {
      for (long r = 0; r < 4; ++r) {
        double av = 0.0;
        for (long c = 0; c < 4; ++c)
          av += matrix(r, c) * vectors(c, k);
        EXPECT_NEAR(av, re[kk] * vectors(r, k), 1e-12);
      }
      continue;
    }
    ASSERT_GT(im[kk], 0.0) << "a complex pair must start with its positive imaginary part";
    ASSERT_EQ(im[kk + 1], -im[kk]);
    const std::complex<double> lambda(re[kk], im[kk]);
    for (long r = 0; r < 4; ++r) {
      std::complex<double> av = 0.0;
      for (long c = 0; c < 4; ++c)
        av += matrix(r, c) * std::complex<double>(vectors(c, k), vectors(c, k + 1));
      EXPECT_LT(std::abs(av - lambda * std::complex<double>(vectors(r, k), vectors(r, k + 1))),
                1e-12);
    }
    ++k;
  }

  matrix.eigenvalues(false, re, im, vectors);
  EXPECT_TRUE(vectors.empty());
  EXPECT_EQ(re.size(), 4u);
}

TEST(NMMatrixEigen, RejectsBadInput) {
  std::vector<double> re, im;
  tkNMMatrix vectors;
  EXPECT_THROW(tkNMMatrix(2, 3).eigenvalues(true, re, im, vectors), tkInvariantFailure);
  tkNMMatrix withNaN(2, 2);
  withNaN(1, 0) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(withNaN.eigenvalues(true, re, im, vectors), tkInvariantFailure);
}

TEST(NMMatrixSolve, WellConditionedSystemIsExact) {
  // Symmetric positive definite normal matrix and integer solutions.
  const tkNMMatrix normal = fromRows(4, 4, {4, 1, 0, 1, 1, 5, 2, 0, 0, 2, 6, 1, 1, 0, 1, 3});
  const tkNMMatrix truth = fromRows(4, 2, {1, -2, 2, 0, -3, 1, 4, 5});
  const tkNMMatrix rhs = normal * truth;
  double condition = 0.0;
  const tkNMMatrix columns = tkNMMatrix::solve(normal, rhs, false, condition, 1e12);
  EXPECT_LT(maxAbsDifference(columns, truth), 1e-14);

  std::vector<double> re, im;
  tkNMMatrix vectors;
  normal.eigenvalues(false, re, im, vectors);
  const auto range = std::minmax_element(re.begin(), re.end());
  EXPECT_NEAR(condition, *range.second / *range.first, 1e-12 * condition)
      << "condition of an SPD matrix is its eigenvalue ratio";
  EXPECT_NEAR(normal.conditionNumber(), condition, 1e-12 * condition);

  // Rows form: each row of rhs is one right-hand side, each row of the result its solution.
  const tkNMMatrix rows = tkNMMatrix::solve(normal, rhs.transpose(), true, condition, 1e12);
  ASSERT_EQ(rows.rows(), 2);
  EXPECT_LT(maxAbsDifference(rows, truth.transpose()), 1e-14);
}

TEST(NMMatrixSolve, IllConditionedSystemThrowsSingularAboveThreshold) {
  // Hilbert matrix of order 10: condition about 1.6e13.
  tkNMMatrix hilbert(10, 10);
  for (long r = 0; r < 10; ++r) {
    for (long c = 0; c < 10; ++c)
      hilbert(r, c) = 1.0 / static_cast<double>(r + c + 1);
  }
  const tkNMMatrix rhs(10, 1);
  double condition = 0.0;
  EXPECT_THROW(tkNMMatrix::solve(hilbert, rhs, false, condition, 1e12), tkMathError::Singular);
  EXPECT_NEAR(condition, 1.6025e13, 0.01e13) << "condition must be reported before throwing";
  EXPECT_NO_THROW(tkNMMatrix::solve(hilbert, rhs, false, condition, 1e14));

  const tkNMMatrix singular = fromRows(2, 2, {1, 2, 2, 4});
  EXPECT_THROW(tkNMMatrix::solve(singular, tkNMMatrix(2, 1), false, condition, HUGE_VAL),
               tkMathError::Singular);
  EXPECT_TRUE(std::isinf(condition));
  EXPECT_TRUE(std::isinf(singular.conditionNumber()));
}

TEST(NMMatrixSolve, RejectsBadShapes) {
  double condition = 0.0;
  const tkNMMatrix square(3, 3);
  EXPECT_THROW(tkNMMatrix::solve(tkNMMatrix(3, 2), tkNMMatrix(3, 1), false, condition, 1e12),
               tkInvariantFailure);
  EXPECT_THROW(tkNMMatrix::solve(square, tkNMMatrix(2, 1), false, condition, 1e12),
               tkInvariantFailure);
  EXPECT_THROW(tkNMMatrix::solve(square, tkNMMatrix(3, 1), true, condition, 1e12),
               tkInvariantFailure);
  EXPECT_THROW(tkNMMatrix().conditionNumber(), tkInvariantFailure);
}
