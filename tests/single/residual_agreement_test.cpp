// The camera model's residuals (platform/core/camera_model/residuals.h) reproduce the solvers'
// analytic gradient terms (crsp_gradient_terms.h) and image cost: Σ w·|r|² is the term and
// 2·Jᵀ·w·r the gradient entries, to rounding. Under the sine-tangent model the old centre entries
// are central differences divided by h rather than 2h; the analytic ones differ from half of them
// by the difference's error only.
#include <gtest/gtest.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <tk/quaternion_partials.h>

#include "ccal/problem/parameter_layout.h"
#include "ccal/single/camera_values.h"
#include "ccal/single/camera_projection.h"
#include "ccal/single/crsp_gradient_terms.h"
#include "platform/core/camera_model/residuals.h"
#include "support/single_camera_scene.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

using namespace ccal::detail;
using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

double largest(const double* v, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i)
    m = std::max(m, std::fabs(v[i]));
  return m;
}

class ResidualAgreement : public ::testing::TestWithParam<Model> {};

TEST_P(ResidualAgreement, CostsAndGradientsEqualTheSolversTerms) {
  const Model model = GetParam();
  // The camera moved off its truth so that every term has a gradient; the physical frame scaled
  // to unit distance as the refinement does.
  tkCameraCalibrationParams camera = scene::Camera(model);
  scene::Correspondences data = scene::Observe(camera, 60, 0.5, 7);
  double x[CameraOffset::kMaxSize];
  const int held = ParameterLayout::packCameraBlock(camera, x);
  x[CameraOffset::kPoseTranslationX] /= 640.0;
  x[CameraOffset::kPoseTranslationX + 1] /= 640.0;
  x[CameraOffset::kPoseTranslationX + 2] /= 640.0;
  for (int i = 0; i < 5; ++i)
    x[i] *= 1.0 + 1e-3 * (i + 1);
  if (model != tk2XformCalib2Defs::eNoDistortion)
    x[CameraOffset::kLensFirst] *= 1.01;
  tk_CameraValues values;
  ParameterLayout::unpackCameraBlock(x, held, model, values);
  const CameraModel cameraModel(tfModelIntrinsics(values.intrinsic));
  const Pose pose = quaternionPose(held, x + CameraOffset::kQuatVar1);

  const int n = ParameterLayout::calibrationBlockSize(model);
  double oldGradient[CameraOffset::kMaxSize] = {};
  double newGradient[CameraOffset::kMaxSize] = {};
  c3d_ptRayGenericPoly acc;
  ASSERT_EQ(c3d_ptRayGenericPoly_init(&acc), CSTD_STATUS_OK);
  double oldImageCost = 0.0, newImageCost = 0.0, poseCostNew = 0.0;
  for (std::size_t k = 0; k < data.size(); ++k) {
    const double w = 0.5 + 0.1 * static_cast<double>(k % 7);
    const tkVector<2> p = data[k].first.first;
    const tkVector<3> P = data[k].first.second / 640.0;
    data[k] = {{p, P}, w};
    const double image[2] = {p.x(), p.y()};
    const double point[3] = {P.x(), P.y(), P.z()};
    const tkVector<3> Pc = values.rotation * P + values.trans;
    const tkVector<2> q(Pc.x() / Pc.z(), Pc.y() / Pc.z());

    tkVector<2> m;
    tfAddIntrinsicGradientTerm(values.intrinsic, p, q, w, oldGradient, &m);
    tfAddPoseTerms(acc, P, m, w / (Pc.z() * Pc.z()));

    double r[2];
    ResidualJacobian J;
    ASSERT_EQ(intrinsicTermResidual(cameraModel, pose, nullptr, image, point, r, &J),
              ResidualStatus::kOk);
    for (int i = 0; i < kIntrinsicValues; ++i)
      if (intrinsicBlockOffset(i) < n)
        newGradient[intrinsicBlockOffset(i)] +=
            2.0 * w * (J.byIntrinsics[0][i] * r[0] + J.byIntrinsics[1][i] * r[1]);
    ASSERT_EQ(poseTermResidual(cameraModel, pose, nullptr, image, point, r, &J),
              ResidualStatus::kOk);
    poseCostNew += w * (r[0] * r[0] + r[1] * r[1]);
    for (int i = 0; i < 6; ++i)
      newGradient[CameraOffset::kQuatVar1 + i] += 2.0 * w * (J.byCamera[0][i] * r[0] + J.byCamera[1][i] * r[1]);
    ASSERT_EQ(imageResidual(cameraModel, pose, nullptr, image, point, r, nullptr),
              ResidualStatus::kOk);
    newImageCost += w * (r[0] * r[0] + r[1] * r[1]);
  }
  oldImageCost = tk_CameraProjection(values).weightedSquaredError(data, nullptr);
  EXPECT_NEAR(newImageCost, oldImageCost, 1e-12 * oldImageCost);

  const tk3QuaternionXform quaternionPoseXform(values.quat, values.trans);
  tfGetQuaternionPartialDerivatives(quaternionPoseXform, held, acc, oldGradient + CameraOffset::kQuatVar1);
  cmath_xformLinear3 record;
  record.trans = cmath_vect3{values.trans.x(), values.trans.y(), values.trans.z()};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      record.matrix[i][j] = values.rotation.element(i, j);
  }
  double poseCostOld = 0.0;
  ASSERT_EQ(c3d_ptRayGenericPoly_evaluate(&acc, &record, &poseCostOld), CSTD_STATUS_OK);
  EXPECT_NEAR(poseCostNew, poseCostOld, 1e-9 * poseCostOld);

  const double scale = largest(oldGradient, n);
  double centreDifference = 0.0, intrinsicDifference = 0.0, poseDifference = 0.0;
  for (int i = 0; i < n; ++i) {
    const bool centre = i == CameraOffset::kCenterX || i == CameraOffset::kCenterY;
    if (centre && model == tk2XformCalib2Defs::eSineTan) {
      // The old entries divide the central difference by h, not 2h: twice the derivative.
      const double derivative = 0.5 * oldGradient[i];
      centreDifference = std::max(
          centreDifference, std::fabs(newGradient[i] - derivative) / std::fabs(derivative));
      continue;
    }
    // The pose entries go through the accumulator's moments, summed in another order.
    const bool pose = i >= CameraOffset::kQuatVar1 && i < CameraOffset::kCenterX;
    double& difference = pose ? poseDifference : intrinsicDifference;
    difference = std::max(difference, std::fabs(newGradient[i] - oldGradient[i]) / scale);
    const double tolerance = (pose ? 1e-8 : 1e-11) * scale;
    EXPECT_NEAR(newGradient[i], oldGradient[i], tolerance) << "entry " << i;
  }
  std::cout << "largest difference / largest entry: intrinsic entries " << intrinsicDifference
            << ", pose entries " << poseDifference << "\n";
  if (model == tk2XformCalib2Defs::eSineTan) {
    std::cout << "sine-tangent centre entries, relative difference analytic vs central: "
              << centreDifference << "\n";
    EXPECT_LT(centreDifference, 1e-5);
  }
}

INSTANTIATE_TEST_SUITE_P(Models, ResidualAgreement,
                         ::testing::Values(tk2XformCalib2Defs::eNoDistortion,
                                           tk2XformCalib2Defs::eRadial,
                                           tk2XformCalib2Defs::eSineTan));

}  // namespace
