// The covariance of the image-residual problem, reduced placement by placement, against the
// dense pseudo-inverse of the whole weighted Jacobian (column-scaled, rank by the same tolerance)
// on a small rig: a determined rig, and the same rig with one placement's points all of weight 0
// (its six values undetermined, the rest as determined as without it).
#include "rig_scene.h"

#include "ccal/multicam/image_residual_covariance.h"
#include "ccal/multicam/image_residual_problem.h"

#include <gtest/gtest.h>

#include <Eigen/SVD>

#include <cmath>
#include <vector>

namespace {

using ccal::detail::ImageResidualProblem;

// σ²·(D⁻¹·pinv(JₛᵀJₛ)·D⁻¹) with Jₛ = √W·J·D⁻¹ (unit columns), dense, over the non-zero columns.
Eigen::MatrixXd denseCovariance(ImageResidualProblem& problem, const double* x, double sigma,
                                long& rank) {
  const long n = problem.parameters();
  const long cb = problem.layout().cameraBlockSize();
  Eigen::MatrixXd J = Eigen::MatrixXd::Zero(problem.rows(), n);
  const std::size_t largest = static_cast<std::size_t>(problem.largestList());
  std::vector<double> rows(largest), cameraJ(largest * static_cast<std::size_t>(cb)),
      placementJ(largest * 6);
  for (std::size_t g = 0; g < problem.lists().size(); ++g) {
    const ImageResidualProblem::List& list = problem.lists()[g];
    EXPECT_TRUE(problem.evaluateList(static_cast<long>(g), x, rows.data(), cameraJ.data(),
                                     placementJ.data()));
    const long block = problem.placementBlock(static_cast<long>(g));
    const long ps = block >= 0 ? problem.layout().blockSize(block) : 0;
    for (long i = 0; i < 2 * list.points; ++i) {
      for (long a = 0; a < cb; ++a)
        J(list.firstRow + i, problem.layout().cameraStart(list.camera) + a) =
            cameraJ[static_cast<std::size_t>(i * cb + a)];
      for (long a = 0; a < ps; ++a)
        J(list.firstRow + i, problem.layout().blockStart(block) + a) =
            placementJ[static_cast<std::size_t>(i * ps + a)];
    }
  }
  Eigen::VectorXd scale = J.colwise().norm();
  for (long i = 0; i < n; ++i)
    scale(i) = scale(i) > 0.0 ? scale(i) : 1.0;
  const Eigen::MatrixXd scaled = J * scale.cwiseInverse().asDiagonal();
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinV);
  const Eigen::VectorXd& s = svd.singularValues();
  rank = 0;
  while (rank < s.size() && s(rank) > ccal::detail::ParameterCovariance::kRankTolerance * s(0))
    ++rank;
  const Eigen::MatrixXd V = svd.matrixV().leftCols(rank);
  const Eigen::MatrixXd inner = V * s.head(rank).cwiseInverse().cwiseAbs2().asDiagonal() *
                                V.transpose();
  return sigma * sigma * scale.cwiseInverse().asDiagonal() * inner *
         scale.cwiseInverse().asDiagonal();
}

TEST(ImageResidualCovariance, ReducedPerPlacementEqualsTheDenseReference) {
  auto truth = tfRigSceneTruth(2, tk2XformCalib2Defs::eRadial);
  std::vector<tk3QuaternionXform> arbitrary = truth.arbitraryCalibrationPlatePoses();
  arbitrary.push_back(tk3QuaternionXform(tk3Quaternion(0.98, -0.1, 0.06, 0.3).normalised(),
                                         tkVector<3>(-0.03, 0.01, 0.15)));
  arbitrary.push_back(tk3QuaternionXform(tk3Quaternion(0.97, 0.05, 0.12, -0.4).normalised(),
                                         tkVector<3>(0.02, -0.04, 0.05)));
  truth.arbitraryCalibrationPlatePoses(arbitrary);
  for (const bool dropped : {false, true}) {
    SCOPED_TRACE(dropped ? "a placement of weight 0" : "every placement");
    tk_ZRotationData zData;
    tk_ArbitraryData aData;
    tfRigSceneData(truth, zData, aData);
    if (dropped)
      for (auto& list : aData[1])
        for (auto& k : list)
          k.second = 0.0;
    ImageResidualProblem problem(zData, aData, truth, false);
    const std::vector<double> x = problem.start();
    const ccal::detail::ParameterCovariance cov =
        ccal::detail::parameterCovariance(problem, x.data(), 0.5);
    long rank = 0;
    const Eigen::MatrixXd reference = denseCovariance(problem, x.data(), 0.5, rank);
    const long n = problem.parameters();
    EXPECT_EQ(cov.free, n);
    EXPECT_EQ(cov.rank, rank);
    EXPECT_EQ(cov.rank, dropped ? n - 6 : n);
    EXPECT_EQ(cov.nullSpace.cols(), n - rank);
    for (long i = 0; i < n; ++i)
      for (long j = 0; j < n; ++j) {
        const double unit = std::sqrt(reference(i, i) * reference(j, j));
        ASSERT_NEAR(cov.covariance(i, j), reference(i, j), 1e-9 * unit + 1e-300) << i << ", " << j;
      }
    // The dropped placement's values, and only they, are undetermined.
    const long start = problem.layout().blockStart(
        problem.layout().blockIndex({ccal::detail::ParameterLayout::Kind::kArbitrary, 1}));
    for (long i = 0; i < n; ++i)
      EXPECT_EQ(cov.undetermined(Eigen::VectorXd::Unit(n, i)), dropped && i >= start && i < start + 6)
          << i;
  }
}

}  // namespace
