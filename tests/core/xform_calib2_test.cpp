#include <gtest/gtest.h>
#include <proc/ccal_xformCalib2.h>
#include <tk/angle_vect.h>
#include <tk/calib2_params.h>
#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/xform_calib2.h>

#include "support/camera_scenes.h"
#include "support/geometry_expect.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

using Defs = tk2XformCalib2Defs;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

tk2XformCalib2 cameraAbovePlate(Defs::tkCalib2DistortionModel model) {
  tk2XformCalib2 xform;
  xform.init(scenes::intrinsicFor(model), tkCalib2ParamsExtrinsic(scenes::cameraAbovePlate()));
  return xform;
}

// Pinhole projection written out independently of the library: K*(X/Z, Y/Z) of E*P.
tkVector<2> pinholeImage(const tkCalib2ParamsIntrinsic& K, const tkXform<3>& E,
                         const tkVector<2>& plate) {
  const tkVector<3> Pc = E.mapPoint(tkVector<3>(plate.x(), plate.y(), 0.0));
  const double dx = Pc.x() / Pc.z(), dy = Pc.y() / Pc.z();
  return tkVector<2>(K.scale().x() * dx + K.skew() * dy + K.translation().x(),
                     K.scale().y() * dy + K.translation().y());
}

}  // namespace

// ---- mapping ---------------------------------------------------------------------------------

TEST(Calib2Mapping, PlaneImagePlaneRoundTripsUnderEveryModel) {
  for (auto model : {Defs::eNoDistortion, Defs::eRadial, Defs::eSineTan, Defs::eTelecentric}) {
    const tk2XformCalib2 xform = cameraAbovePlate(model);
    for (const tkVector<2>& plate : scenes::plateGrid()) {
      const tkVector<2> image = xform.invMapPoint(plate);
      EXPECT_TRUE(VectorsNear(xform.mapPoint(image), plate, 1e-10))
          << "model " << model << " plate " << plate.x() << "," << plate.y();
      // And from the image side: pixels come back to 1e-9 pixels.
      const tkVector<2> shifted(image.x() + 3.5, image.y() - 2.25);
      EXPECT_TRUE(VectorsNear(xform.invMapPoint(xform.mapPoint(shifted)), shifted, 1e-9))
          << "model " << model;
    }
  }
}

TEST(Calib2Mapping, NoDistortionIsThePinholeProjectionOfThePose) {
  const tk2XformCalib2 xform = cameraAbovePlate(Defs::eNoDistortion);
  const tkCalib2ParamsIntrinsic K = scenes::intrinsicFor(Defs::eNoDistortion);
  for (const tkVector<2>& plate : scenes::plateGrid())
    EXPECT_TRUE(VectorsNear(xform.invMapPoint(plate),
                            pinholeImage(K, scenes::cameraAbovePlate(), plate), 1e-9));
}

TEST(Calib2Mapping, TelecentricIsKOfTheCameraXY) {
  const tk2XformCalib2 xform = cameraAbovePlate(Defs::eTelecentric);
  const tkCalib2ParamsIntrinsic K = scenes::intrinsicFor(Defs::eTelecentric);
  const tkXform<3> E = scenes::cameraAbovePlate();
  for (const tkVector<2>& plate : scenes::plateGrid()) {
    const tkVector<3> Q = E.mapPoint(tkVector<3>(plate.x(), plate.y(), 0.0));
    const tkVector<2> expected(K.scale().x() * Q.x() + K.skew() * Q.y() + K.translation().x(),
                               K.scale().y() * Q.y() + K.translation().y());
    EXPECT_TRUE(VectorsNear(xform.invMapPoint(plate), expected, 1e-9));
    EXPECT_TRUE(VectorsNear(K.mapPoint(tkVector<2>(Q.x(), Q.y())), expected, 1e-9));
  }
  // The image does not depend on depth: moving the camera along its axis changes nothing.
  tkXform<3> farther = E;
  farther.trans(E.trans() + tkVector<3>(0.0, 0.0, 250.0));
  tk2XformCalib2 moved = xform;
  moved.extrinsicXform(farther);
  EXPECT_TRUE(
      VectorsNear(moved.invMapPoint({30.0, -40.0}), xform.invMapPoint({30.0, -40.0}), 1e-9));
}

TEST(Calib2Mapping, LensActsInTheDistortedPlaneBetweenKAndTheRay) {
  // Under the radial model the position at Z = 1 of an image point is d + k*|d - c|^2*(d - c)
  // with d = K^-1(image); the ray through it meets the plane at mapPoint(image).
  const tk2XformCalib2 xform = cameraAbovePlate(Defs::eRadial);
  const tkCalib2ParamsIntrinsic K = scenes::intrinsicFor(Defs::eRadial);
  const tkVector<2> image(100.0, 400.0);
  const tkVector<2> d = K.imageFromDistorted().inverse().mapPoint(image);
  const tkVector<2> c(0.01, -0.02);
  const tkVector<2> e = d - c;
  const tkVector<2> positionAtZ1 = d + e * (0.08 * e.dot(e));
  EXPECT_TRUE(VectorsNear(K.invMapPoint(image), positionAtZ1, 1e-15));
  const tkVector<2> plate = xform.mapPoint(image);
  const tkVector<3> Pc = scenes::cameraAbovePlate().mapPoint({plate.x(), plate.y(), 0.0});
  EXPECT_TRUE(VectorsNear(tkVector<2>(Pc.x() / Pc.z(), Pc.y() / Pc.z()), positionAtZ1, 1e-14));
}

TEST(Calib2Mapping, DegenerateGeometryGivesNonFiniteCoordinatesNotACrash) {
  // A camera 10 units above the plate looking along +X of the world: the optical axis is
  // parallel to the plane, so the ray through the principal point never meets it.
  // The exact matrix goes in through the pose setter (angles would round cos(pi/2) to 6e-17).
  tk2XformCalib2 sideways;
  const tkMatrix<3> lookAlongX(0, 1, 0, 0, 0, 1, 1, 0, 0);  // camera z = world x
  sideways.extrinsicXform(tkXform<3>(lookAlongX, tkVector<3>(0, -10, 0)));
  const tkVector<2> plate = sideways.mapPoint({0.0, 0.0});  // K = identity
  EXPECT_FALSE(std::isfinite(plate.x()) && std::isfinite(plate.y()));
  // A plate point in the camera's focal plane (depth 0).
  const tkVector<2> image = sideways.invMapPoint({0.0, 5.0});
  EXPECT_FALSE(std::isfinite(image.x()) && std::isfinite(image.y()));

  // A telecentric camera that sees the plate edge-on.
  tk2XformCalib2 edgeOn;
  edgeOn.init(scenes::intrinsicFor(Defs::eTelecentric), tkCalib2ParamsExtrinsic());
  edgeOn.extrinsicXform(tkXform<3>(lookAlongX, tkVector<3>()));
  const tkVector<2> edge = edgeOn.mapPoint({320.0, 240.0});
  EXPECT_FALSE(std::isfinite(edge.x()) && std::isfinite(edge.y()));
}

TEST(Calib2Mapping, SineTanImagePointBeyondTheLensFieldThrows) {
  const tk2XformCalib2 xform = cameraAbovePlate(Defs::eSineTan);
  // Far outside any radius the lens reaches below 90 degrees.
  EXPECT_THROW(xform.mapPoint({1e9, 1e9}), tkProcedureFailure);
}

// ---- parts and record ------------------------------------------------------------------------

TEST(Calib2Parts, DefaultTransformIsIdentityCameraWithoutDistortion) {
  const tk2XformCalib2 xform;
  EXPECT_EQ(xform.intrinsicParams(), tkCalib2ParamsIntrinsic());
  EXPECT_EQ(tkCalib2ParamsIntrinsic().imageFromDistorted(), tk2XformLinear());
  EXPECT_EQ(xform.intrinsicParams().distortionModel(), Defs::eNoDistortion);
  EXPECT_EQ(xform.extrinsicXform(), tkXform<3>());
  EXPECT_EQ(tkCalib2ParamsExtrinsic().xform(), tkXform<3>());
}

TEST(Calib2Parts, InitStoresKTheListInOrderAndThePose) {
  const tk2XformCalib2 xform = cameraAbovePlate(Defs::eSineTan);
  const ccal_xformCalib2& record = xform.data();
  EXPECT_EQ(record.imageFromDistorted.matrix[0][0], 800.0);
  EXPECT_EQ(record.imageFromDistorted.matrix[0][1], 0.4);
  EXPECT_EQ(record.imageFromDistorted.matrix[1][0], 0.0);
  EXPECT_EQ(record.imageFromDistorted.matrix[1][1], 790.0);
  EXPECT_EQ(record.imageFromDistorted.trans.x, 320.0);
  EXPECT_EQ(record.imageFromDistorted.trans.y, 240.0);
  EXPECT_EQ(record.distortionModel, CCAL_DISTORTION_SINE_TAN);
  ASSERT_EQ(record.distortionParamCount, 6);
  const std::vector<double> list = scenes::sineTanList();
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(record.distortionParams[i], list[i]) << "entry " << i;
  const tkXform<3> E = scenes::cameraAbovePlate();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(record.cameraFromWorld.matrix[r][c], E.matrix().element(r, c), 1e-15);
  EXPECT_EQ(record.cameraFromWorld.trans.z, 500.0);

  EXPECT_EQ(xform.intrinsicParams(), scenes::intrinsicFor(Defs::eSineTan));
  const tkCalib2ParamsExtrinsic extrinsic = xform.extrinsicParams();
  EXPECT_NEAR(extrinsic.angles().rx(), 3.141592653589793 - 0.2, 1e-14);
  EXPECT_NEAR(extrinsic.angles().ry(), 0.1, 1e-14);
  EXPECT_NEAR(extrinsic.angles().rz(), 0.3, 1e-14);
  EXPECT_TRUE(XformsNear(extrinsic.xform(), E, 1e-14));
}

TEST(Calib2Parts, CopiesAssignmentAndEqualityFollowTheRecord) {
  const tk2XformCalib2 radial = cameraAbovePlate(Defs::eRadial);
  tk2XformCalib2 copy(radial);
  EXPECT_TRUE(copy == radial);
  tk2XformCalib2 other = cameraAbovePlate(Defs::eSineTan);
  EXPECT_TRUE(other != radial);
  other = radial;
  EXPECT_TRUE(other == radial);
  other.extrinsicXform(tkXform<3>());
  EXPECT_TRUE(other != radial);
  const tk2XformCalib2 fromRecord(radial.data());
  EXPECT_TRUE(fromRecord == radial);
}

// ---- rejection of bad parts ------------------------------------------------------------------

TEST(Calib2Rejects, IntrinsicListsThatDoNotFitTheModel) {
  const tkVector<2> s(800, 800), t(320, 240);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eRadial, {0.1, 0.0}), tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eSineTan, {1, 1, 1, 1}), tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eNoDistortion, {0.1}), tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eTelecentric, {0.0, 0.0, 0.0}),
               tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, static_cast<Defs::tkCalib2DistortionModel>(3), {}),
               tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eSineTan, {1, 0, 1, 1, 0, 0}),
               tkInvariantFailure);
}

TEST(Calib2Rejects, NonFiniteValuesAndSingularCameraMatrix) {
  const tkVector<2> s(800, 800), t(320, 240);
  EXPECT_THROW(tkCalib2ParamsIntrinsic(s, 0, t, Defs::eRadial, {kNaN, 0, 0}), tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic({800, kNaN}, 0, t, Defs::eNoDistortion, {}),
               tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic({800, 0}, 0, t, Defs::eNoDistortion, {}),
               tkMathError::Singular);
  EXPECT_THROW(tkCalib2ParamsIntrinsic({1e-20, 800}, 1.0, t, Defs::eNoDistortion, {}),
               tkMathError::Singular);
  EXPECT_THROW(tkCalib2ParamsExtrinsic(tk3AngleVect(kNaN, 0, 0), tkVector<3>()),
               tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsExtrinsic(tk3AngleVect(), tkVector<3>(0, 0, kNaN)),
               tkInvariantFailure);
}

TEST(Calib2Rejects, PosesThatAreNoRotationAndMalformedRecords) {
  tk2XformCalib2 xform = cameraAbovePlate(Defs::eRadial);
  const tk2XformCalib2 before = xform;
  EXPECT_THROW(xform.extrinsicXform(tkXform<3>(tkMatrix<3>::identity() * 2.0, tkVector<3>())),
               tkInvariantFailure);
  EXPECT_THROW(xform.extrinsicXform(tkXform<3>(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, -1), {})),
               tkInvariantFailure);  // a reflection
  EXPECT_THROW(xform.extrinsicXform(tkXform<3>(tkMatrix<3>::identity(), {0, kNaN, 0})),
               tkInvariantFailure);
  EXPECT_TRUE(xform == before);

  ccal_xformCalib2 record = before.data();
  record.distortionParamCount = 2;
  EXPECT_THROW(tk2XformCalib2{record}, tkInvariantFailure);
  record = before.data();
  record.distortionParamCount = 99;
  EXPECT_THROW(tk2XformCalib2{record}, tkInvariantFailure);
  record = before.data();
  record.imageFromDistorted.matrix[1][0] = 0.5;
  EXPECT_THROW(tk2XformCalib2{record}, tkInvariantFailure);
  record = before.data();
  record.imageFromDistorted.matrix[1][1] = 0.0;
  EXPECT_THROW(tk2XformCalib2{record}, tkMathError::Singular);
  // The procedural layer's singular-matrix status converts to the same exception.
  EXPECT_THROW(tfThrowExceptionOnFailure(CMATH_STATUS_SINGULAR), tkMathError::Singular);
  record = before.data();
  record.cameraFromWorld.matrix[0][1] += 1e-6;
  EXPECT_THROW(tk2XformCalib2{record}, tkInvariantFailure);
}
