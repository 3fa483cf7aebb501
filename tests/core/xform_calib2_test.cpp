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

// ---- copies and rejection of bad parts --------------------------------------------------------

TEST(Calib2Parts, CopiesAssignmentAndEqualityFollowTheRecord) {
  const tk2XformCalib2 radial = cameraAbovePlate(Defs::eRadial);
  EXPECT_EQ(radial.intrinsicParams(), scenes::intrinsicFor(Defs::eRadial));
  EXPECT_FALSE(radial.intrinsicParams() == scenes::intrinsicFor(Defs::eSineTan));
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
