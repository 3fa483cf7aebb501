// Conventional terms: K of a calibrated transform and of an intrinsic model agree, K -> L -> K
// is the identity, the model names round-trip, and the line-scan terms describe the camera.
#include <ccal/camera_terms.h>
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/quaternion.h>

#include "camera/scene_models.h"
#include "support/line_scan_sets.h"

#include <cmath>
#include <limits>

namespace {

void expectSameK(const tkCameraMatrixTerms& a, const tkCameraMatrixTerms& b, double tol) {
  EXPECT_NEAR(a.fx, b.fx, tol * std::abs(b.fx));
  EXPECT_NEAR(a.fy, b.fy, tol * std::abs(b.fy));
  EXPECT_NEAR(a.cx, b.cx, tol * std::abs(b.cx));
  EXPECT_NEAR(a.cy, b.cy, tol * std::abs(b.cy));
  EXPECT_NEAR(a.skew, b.skew, tol * std::abs(b.fx));
}

}  // namespace

TEST(CameraMatrixTerms, IntrinsicModelAndTransformGiveOneK) {
  const tkCalib2ParamsIntrinsic k = scenes::intrinsicFor(tk2XformCalib2Defs::eRadial);
  const tkCameraMatrixTerms direct = tfCameraMatrixTerms(k);
  EXPECT_EQ(direct.fx, 800.0);
  EXPECT_EQ(direct.fy, 790.0);
  EXPECT_EQ(direct.cx, 320.0);
  EXPECT_EQ(direct.cy, 240.0);
  EXPECT_EQ(direct.skew, 0.4);
  // The intrinsic model holds L = K^-1.
  tkPhysicalAtZEquals1FromImageParams model = sceneModel(tk2XformCalib2Defs::eRadial);
  expectSameK(tfCameraMatrixTerms(model), direct, 1e-14);

  // Setting K writes L and keeps the lens.
  tkCameraMatrixTerms other{1200.0, 1180.0, 640.5, 480.25, -0.75};
  tfSetCameraMatrixTerms(model, other);
  expectSameK(tfCameraMatrixTerms(model), other, 1e-14);
  expectSameK(tfCameraMatrixTerms(model.computeParamsIntrinsic()), other, 1e-14);
  EXPECT_EQ(model.distModel(), tk2XformCalib2Defs::eRadial);
  EXPECT_EQ(model.k(), scenes::radialList()[0]);

  const tkPhysicalAtZEquals1FromImageParams before = model;
  for (const tkCameraMatrixTerms& bad :
       {tkCameraMatrixTerms{0.0, 1.0, 0.0, 0.0, 0.0},
        tkCameraMatrixTerms{1.0, 1.0, std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0}}) {
    EXPECT_THROW(tfSetCameraMatrixTerms(model, bad), tkInvariantFailure);
    EXPECT_EQ(model.cameraSkew(), before.cameraSkew());
    EXPECT_EQ(model.cameraScale().first, before.cameraScale().first);
  }
}

TEST(DistortionModelNames, RoundTripAndRefuseOthers) {
  using Defs = tk2XformCalib2Defs;
  for (Defs::tkCalib2DistortionModel m :
       {Defs::eRadial, Defs::eSineTan, Defs::eNoDistortion, Defs::eTelecentric}) {
    Defs::tkCalib2DistortionModel back = Defs::eRadial;
    ASSERT_NE(tfDistortionModelName(m), nullptr);
    EXPECT_TRUE(tfDistortionModelFromName(tfDistortionModelName(m), back));
    EXPECT_EQ(back, m);
  }
  EXPECT_STREQ(tfDistortionModelName(Defs::eSineTan), "sine-tan");
  EXPECT_EQ(tfDistortionModelName(static_cast<Defs::tkCalib2DistortionModel>(2)), nullptr);
  Defs::tkCalib2DistortionModel unchanged = Defs::eSineTan;
  EXPECT_FALSE(tfDistortionModelFromName("Radial", unchanged));
  EXPECT_EQ(unchanged, Defs::eSineTan);
}

TEST(LineScanTerms, DescribeTheCalibratedCamera) {
  const tk2XformCalib2 xform = calibrateExactLineScanSet();
  tkLineScanTerms terms;
  ASSERT_TRUE(tfLineScanTerms(xform, terms));
  tk2XformLineScan lineScan;
  tfConvert(xform, lineScan);
  const tkLineScanTerms direct = tfLineScanTerms(lineScan);
  EXPECT_EQ(terms.scale, direct.scale);
  EXPECT_EQ(terms.k1, direct.k1);
  EXPECT_EQ(terms.motion.y(), direct.motion.y());
  EXPECT_EQ(terms.offset, lineScan.lineScan()->camera.lens.offset);
  // The projection centre goes to the camera origin: R C + T = 0.
  const tk3Quaternion q(terms.quaternion[0], terms.quaternion[1], terms.quaternion[2],
                        terms.quaternion[3]);
  const tkVector<3> origin = q.rotationMatrix() * terms.centre + terms.translation;
  EXPECT_LT(origin.length(), 1e-9 * terms.translation.length());

  tkLineScanTerms untouched;
  untouched.scale = -7.0;
  tk2XformCalib2 areaScan;
  EXPECT_FALSE(tfLineScanTerms(areaScan, untouched));
  EXPECT_EQ(untouched.scale, -7.0);
  tk2XformLineScan unchanged = lineScan;
  EXPECT_ANY_THROW(tfConvert(areaScan, lineScan));
  EXPECT_EQ(lineScan, unchanged);
  tk2XformCalib2 back;
  tfConvert(lineScan, back);
  EXPECT_EQ(back, xform);
}
