// The dynamic matrix: storage layout, eigen decomposition and the conditioned linear solve.
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
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < cols; ++c)
      m(r, c) = values[static_cast<size_t>(r * cols + c)];
  return m;
}

double maxAbsDifference(const tkNMMatrix& a, const tkNMMatrix& b) {
  double largest = 0.0;
  for (long i = 0; i < a.size(); ++i)
    largest = std::max(largest, std::fabs(a.data()[i] - b.data()[i]));
  return largest;
}

// Largest |(A v)_r − λ v_r| over the rows, for the eigenpair λ, v: v is column k of vectors, or
// column k + i column k+1 when im[k] != 0 (a complex pair).
double eigenpairDefect(const tkNMMatrix& a, const std::vector<double>& re,
                       const std::vector<double>& im, const tkNMMatrix& vectors, long k) {
  const std::size_t kk = static_cast<std::size_t>(k);
  const std::complex<double> lambda(re[kk], im[kk]);
  double largest = 0.0;
  for (long r = 0; r < a.rows(); ++r) {
    std::complex<double> av = 0.0;
    for (long c = 0; c < a.cols(); ++c)
      av += a(r, c) * std::complex<double>(vectors(c, k), im[kk] != 0.0 ? vectors(c, k + 1) : 0.0);
    const std::complex<double> v(vectors(r, k), im[kk] != 0.0 ? vectors(r, k + 1) : 0.0);
    largest = std::max(largest, std::abs(av - lambda * v));
  }
  return largest;
}

}  // namespace

TEST(NMMatrix, ZeroFilledColumnMajorDeepAndRangeChecked) {
  tkNMMatrix m(2, 3);
  EXPECT_TRUE(std::all_of(m.data(), m.data() + m.size(), [](double v) { return v == 0.0; }));
  m(1, 2) = 7.5;
  EXPECT_EQ(m.data()[1 + 2 * 2], 7.5) << "element (r, c) must live at r + c * rows";
  const tkNMMatrix copy = m;
  m(1, 2) = 0.0;
  EXPECT_EQ(copy(1, 2), 7.5) << "copies must be deep";
  EXPECT_THROW(m(2, 0), std::out_of_range);
  EXPECT_THROW(m.element(0, -1), std::out_of_range);
  EXPECT_THROW(tkNMMatrix(-1, 2), tkInvariantFailure);
  const tkNMMatrix a = fromRows(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(maxAbsDifference(a * a.transpose(), fromRows(2, 2, {14, 32, 32, 77})), 0.0);
  EXPECT_THROW(a * a, tkInvariantFailure);
}

TEST(NMMatrix, SmallestEigenvectorOfANormalMatrixSpansTheNullSpace) {
  // A (20 x 12) has the null space spanned by the unit vector u; AᵀA has eigenvalue 0 along u.
  std::vector<double> u(12);
  double length = 0.0;
  for (size_t k = 0; k < 12; ++k) {
    u[k] = std::cos(0.7 * static_cast<double>(k) + 0.3);
    length += u[k] * u[k];
  }
  for (double& v : u)
    v /= std::sqrt(length);
  std::mt19937 engine(11);
  tkNMMatrix a(20, 12);
  for (long r = 0; r < 20; ++r) {
    double along = 0.0;
    for (long c = 0; c < 12; ++c) {
      a(r, c) = static_cast<double>(engine()) / engine.max() - 0.5;
      along += a(r, c) * u[static_cast<size_t>(c)];
    }
    for (long c = 0; c < 12; ++c)
      a(r, c) -= along * u[static_cast<size_t>(c)];
  }
  const tkNMMatrix normal = a.transpose() * a;
  std::vector<double> re, im;
  tkNMMatrix vectors;
  normal.eigenvalues(true, re, im, vectors);
  ASSERT_EQ(re.size(), 12u);
  EXPECT_TRUE(std::all_of(im.begin(), im.end(), [](double v) { return v == 0.0; }));
  EXPECT_TRUE(std::is_sorted(re.begin(), re.end())) << "symmetric: ascending";
  EXPECT_LT(std::fabs(re[0]), 1e-14);
  double cosine = 0.0;
  for (long r = 0; r < 12; ++r)
    cosine += vectors(r, 0) * u[static_cast<size_t>(r)];
  EXPECT_NEAR(std::fabs(cosine), 1.0, 1e-12) << "eigenvector not parallel to the null vector";
  for (long k = 0; k < 12; ++k) {
    EXPECT_LT(eigenpairDefect(normal, re, im, vectors, k), 1e-13);
    double normSquared = 0.0;
    for (long r = 0; r < 12; ++r)
      normSquared += vectors(r, k) * vectors(r, k);
    EXPECT_NEAR(normSquared, 1.0, 1e-13);
  }
}

TEST(NMMatrix, NonSymmetricMatrixWithAComplexPair) {
  // Similar to diag-block(rotation-scaling [1 -2; 2 1], 3, -0.5): eigenvalues 1 ± 2i, 3, -0.5.
  const tkNMMatrix block = fromRows(4, 4, {1, -2, 0, 0, 2, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0, -0.5});
  const tkNMMatrix basis = fromRows(4, 4, {2, 1, 0, 1, 0, 1, 1, 0, 1, 0, 3, 1, 0, 1, 0, 2});
  const tkNMMatrix identity = fromRows(4, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  double condition = 0.0;
  const tkNMMatrix matrix =
      basis * block * tkNMMatrix::solve(basis, identity, false, condition, 1e8);
  std::vector<double> re, im;
  tkNMMatrix vectors;
  matrix.eigenvalues(true, re, im, vectors);
  auto has = [&](std::complex<double> expected) {
    for (size_t k = 0; k < 4; ++k)
      if (std::abs(std::complex<double>(re[k], im[k]) - expected) < 1e-12)
        return true;
    return false;
  };
  EXPECT_TRUE(has({1, 2}) && has({1, -2}) && has({3, 0}) && has({-0.5, 0}));
  for (long k = 0; k < 4; ++k) {
    const size_t kk = static_cast<size_t>(k);
    if (im[kk] != 0.0) {
      ASSERT_GT(im[kk], 0.0) << "a complex pair must start with its positive imaginary part";
      ASSERT_EQ(im[kk + 1], -im[kk]);
    }
    EXPECT_LT(eigenpairDefect(matrix, re, im, vectors, k), 1e-12) << "eigenvalue " << k;
    k += im[kk] != 0.0;
  }
  matrix.eigenvalues(false, re, im, vectors);
  EXPECT_TRUE(vectors.empty());
  tkNMMatrix withNaN(2, 2);
  withNaN(1, 0) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(tkNMMatrix(2, 3).eigenvalues(true, re, im, vectors), tkInvariantFailure);
  EXPECT_THROW(withNaN.eigenvalues(true, re, im, vectors), tkInvariantFailure);
}

TEST(NMMatrix, SolveIsExactWhenWellConditionedAndThrowsOtherwise) {
  // Symmetric positive definite normal matrix and integer solutions.
  const tkNMMatrix normal = fromRows(4, 4, {4, 1, 0, 1, 1, 5, 2, 0, 0, 2, 6, 1, 1, 0, 1, 3});
  const tkNMMatrix truth = fromRows(4, 2, {1, -2, 2, 0, -3, 1, 4, 5});
  double condition = 0.0;
  EXPECT_LT(
      maxAbsDifference(tkNMMatrix::solve(normal, normal * truth, false, condition, 1e12), truth),
      1e-14);
  std::vector<double> re, im;
  tkNMMatrix vectors;
  normal.eigenvalues(false, re, im, vectors);
  EXPECT_NEAR(condition, re.back() / re.front(), 1e-12 * condition)
      << "condition of an SPD matrix is its eigenvalue ratio";
  EXPECT_NEAR(normal.conditionNumber(), condition, 1e-12 * condition);
  // Rows form: each row of rhs is one right-hand side, each row of the result its solution.
  const tkNMMatrix rows =
      tkNMMatrix::solve(normal, (normal * truth).transpose(), true, condition, 1e12);
  EXPECT_LT(maxAbsDifference(rows, truth.transpose()), 1e-14);

  // Hilbert matrix of order 10: condition about 1.6e13.
  tkNMMatrix hilbert(10, 10);
  for (long r = 0; r < 10; ++r)
    for (long c = 0; c < 10; ++c)
      hilbert(r, c) = 1.0 / static_cast<double>(r + c + 1);
  EXPECT_THROW(tkNMMatrix::solve(hilbert, tkNMMatrix(10, 1), false, condition, 1e12),
               tkMathError::Singular);
  EXPECT_NEAR(condition, 1.6025e13, 0.01e13) << "condition must be reported before throwing";
  EXPECT_NO_THROW(tkNMMatrix::solve(hilbert, tkNMMatrix(10, 1), false, condition, 1e14));
  const tkNMMatrix singular = fromRows(2, 2, {1, 2, 2, 4});
  EXPECT_THROW(tkNMMatrix::solve(singular, tkNMMatrix(2, 1), false, condition, HUGE_VAL),
               tkMathError::Singular);
  EXPECT_TRUE(std::isinf(condition));
  EXPECT_TRUE(std::isinf(singular.conditionNumber()));
  const tkNMMatrix square(3, 3);
  EXPECT_THROW(tkNMMatrix::solve(tkNMMatrix(3, 2), tkNMMatrix(3, 1), false, condition, 1e12),
               tkInvariantFailure);
  EXPECT_THROW(tkNMMatrix::solve(square, tkNMMatrix(2, 1), false, condition, 1e12),
               tkInvariantFailure);
  EXPECT_THROW(tkNMMatrix::solve(square, tkNMMatrix(3, 1), true, condition, 1e12),
               tkInvariantFailure);
}
