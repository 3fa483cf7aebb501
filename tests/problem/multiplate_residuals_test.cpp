// The gradient terms' loop runs as wide code where the processor has it and as portable code
// elsewhere: both must give the same rows to rounding, and the image rows bit for bit.
#include "ccal/problem/multiplate_residuals.h"
#include "ccal/problem/multiplate_problem.h"
#include "ccal/problem/wide_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using ccal::detail::MultiplateListResidual;
using ccal::detail::ParameterLayout;

struct Evaluation {
  std::vector<double> residuals;
  std::vector<std::vector<double>> jacobians;
};

Evaluation evaluate(const MultiplateListResidual& block, const ParameterLayout& layout,
                    const std::vector<double>& x, bool wide) {
  ccal::detail::allowWideKernels(wide);
  Evaluation e;
  e.residuals.assign(static_cast<std::size_t>(block.residualCount()), 0.0);
  std::vector<const double*> parameters;
  std::vector<double*> jacobians;
  for (long b : block.parameterBlocks()) {
    parameters.push_back(x.data() + layout.blockStart(b));
    e.jacobians.emplace_back(static_cast<std::size_t>(block.residualCount() * layout.blockSize(b)),
                             0.0);
  }
  for (auto& j : e.jacobians)
    jacobians.push_back(j.data());
  EXPECT_TRUE(block.Evaluate(parameters.data(), e.residuals.data(), jacobians.data()));
  ccal::detail::allowWideKernels(true);
  return e;
}

void expectClose(const std::vector<double>& a, const std::vector<double>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_NEAR(a[i], b[i], 1e-12 * (1.0 + std::fabs(b[i]))) << what << " " << i;
}

TEST(MultiplateListResidual, WideAndPortableLoopsAgreeAndShareTheImageRows) {
  for (const auto model : {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial}) {
    SCOPED_TRACE(model == tk2XformCalib2Defs::eRadial ? "radial" : "none");
    tk_MultiplateProblem problem;
    problem.layout = ParameterLayout::calibration(model, 1, 2, 1);
    problem.layout.cameraUnitValIndices({0});
    problem.layout.arbitraryUnitValIndices({0});
    problem.heights = {0.0, 0.3};
    // Image points in the normalised frame, plate points 3 units in front of the camera.
    std::vector<ccal_crspPair2D3DWeighted> records;
    for (int i = 0; i < 7; ++i)
      for (int j = 0; j < 5; ++j)
        records.push_back(ccal_crspPair2D3DWeighted{{0.25 * i - 0.8, 0.3 * j - 0.55},
                                                    {0.3 * i - 0.9, 0.35 * j - 0.7, 0.0},
                                                    1.0 + 0.1 * ((i + j) % 3)});
    const tk_MultiplateList list{records.data(), records.size()};
    problem.zLists = {list, list};
    problem.aLists = {list};

    const ParameterLayout& layout = problem.layout;
    std::vector<double> x(static_cast<std::size_t>(layout.size()), 0.0);
    // Camera: L (tx, ty, sx, sy, skew), pose (quaternion values, translation), centre, k.
    const std::vector<double> camera = {0.02, -0.03, 0.9,   1.1, 0.01, 0.03,  -0.02,
                                        0.01, 0.1,   -0.05, 3.0, 0.01, -0.02, -0.05};
    for (long a = 0; a < layout.blockSize(0); ++a)
      x[static_cast<std::size_t>(a)] =
          camera[static_cast<std::size_t>(a < 11 ? a : a + 14 - layout.blockSize(0))];
    for (long b = 1; b < layout.blockCount(); ++b)
      for (long a = 0; a < layout.blockSize(b); ++a)
        x[static_cast<std::size_t>(layout.blockStart(b) + a)] = 0.02 * (a + 1) - 0.05 * b;

    const ParameterLayout::Block blocks[] = {
        {}, {ParameterLayout::Kind::kZRotation, 1}, {ParameterLayout::Kind::kArbitrary, 0}};
    for (const ParameterLayout::Block& placement : blocks) {
      const MultiplateListResidual block(problem, 0, placement, list);
      const Evaluation wide = evaluate(block, layout, x, true);
      const Evaluation portable = evaluate(block, layout, x, false);
      expectClose(wide.residuals, portable.residuals, "row");
      for (std::size_t k = 0; k < wide.jacobians.size(); ++k)
        expectClose(wide.jacobians[k], portable.jacobians[k], "Jacobian entry");
      // The image rows (the last 2·count rows) are the same loop's under both.
      for (std::size_t i = wide.residuals.size() - 2 * records.size(); i < wide.residuals.size();
           ++i)
        EXPECT_EQ(wide.residuals[i], portable.residuals[i]) << "image row " << i;
    }
  }
}

}  // namespace
