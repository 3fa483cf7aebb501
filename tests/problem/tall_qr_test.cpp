// The written-out tall QR against Eigen's HouseholderQR, whose layout it keeps, in wide and in
// portable code; a matrix with fewer rows than columns (a short list of the polishing) included.
#include "ccal/problem/tall_qr.h"
#include "ccal/problem/wide_kernels.h"

#include <gtest/gtest.h>
#include <Eigen/QR>

#include <algorithm>
#include <cmath>

namespace {

using ccal::detail::TallQR;

TEST(TallQR, FactorsAndAppliesQtAsEigensHouseholderQR) {
  for (const bool wide : {true, false})
    for (const Eigen::Index rows : {8, 17, 18, 45, 666}) {
      SCOPED_TRACE(testing::Message() << rows << " rows" << (wide ? "" : ", portable"));
      ccal::detail::allowWideKernels(wide);
      const Eigen::Index columns = 17;
      Eigen::MatrixXd a(rows, columns);
      for (Eigen::Index i = 0; i < rows; ++i)
        for (Eigen::Index j = 0; j < columns; ++j) {
          const double k = static_cast<double>(i * columns + j);
          a(i, j) = std::sin(12.9898 * k + 78.233 * std::cos(0.37 * k)) * (1.0 + j);
        }
      a.col(5).setZero();  // a column without a reflection
      Eigen::VectorXd v(rows);
      for (Eigen::Index i = 0; i < rows; ++i)
        v(i) = std::cos(0.7 * static_cast<double>(i));

      const Eigen::HouseholderQR<Eigen::MatrixXd> reference(a);
      Eigen::VectorXd qtv = v;
      qtv.applyOnTheLeft(reference.householderQ().transpose());

      Eigen::MatrixXd factored = a;
      TallQR qr;
      qr.compute(factored);
      Eigen::VectorXd mine = v;
      qr.applyQt(mine.data());
      const double scale = a.norm();
      for (Eigen::Index j = 0; j < columns; ++j)
        for (Eigen::Index i = 0; i <= j && i < rows; ++i)
          EXPECT_NEAR(factored(i, j), reference.matrixQR()(i, j), 1e-13 * scale)
              << "R(" << i << ", " << j << ")";
      for (Eigen::Index i = 0; i < rows; ++i)
        EXPECT_NEAR(mine(i), qtv(i), 1e-13 * v.norm()) << "Qᵀv " << i;
      // Qᵀ keeps the norm, and the factor reproduces A: |R| = |A| column by column.
      EXPECT_NEAR(mine.norm(), v.norm(), 1e-13 * v.norm());
      for (Eigen::Index j = 0; j < columns; ++j)
        EXPECT_NEAR(factored.col(j).head(std::min(j + 1, rows)).norm(), a.col(j).norm(),
                    1e-13 * scale);
    }
  ccal::detail::allowWideKernels(true);
}

}  // namespace
