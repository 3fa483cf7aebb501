// The calibrated plane-to-image transform: mapping under every model, degenerate geometry, and
// the rejection of parts and records that describe no camera.
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
#include <functional>
#include <limits>

namespace {

using Defs = tk2XformCalib2Defs;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

tk2XformCalib2 cameraAbovePlate(Defs::tkCalib2DistortionModel model) {
  tk2XformCalib2 xform;
  xform.init(scenes::intrinsicFor(model), tkCalib2ParamsExtrinsic(scenes::cameraAbovePlate()));
  return xform;
}

bool finite(const tkVector<2>& v) {
  return std::isfinite(v.x()) && std::isfinite(v.y());
}

}  // namespace

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

TEST(Calib2Mapping, DegenerateGeometryGivesNonFiniteCoordinatesOrAnException) {
  // A camera 10 units above the plate looking along +X of the world: the optical axis is
  // parallel to the plane, so the ray through the principal point never meets it. The exact
  // matrix goes in through the pose setter (angles would round cos(pi/2) to 6e-17).
  tk2XformCalib2 sideways;
  const tkMatrix<3> lookAlongX(0, 1, 0, 0, 0, 1, 1, 0, 0);  // camera z = world x
  sideways.extrinsicXform(tkXform<3>(lookAlongX, tkVector<3>(0, -10, 0)));
  EXPECT_FALSE(finite(sideways.mapPoint({0.0, 0.0})));  // K = identity
  EXPECT_FALSE(finite(sideways.invMapPoint({0.0, 5.0}))) << "a plate point at depth 0";
  // A telecentric camera that sees the plate edge-on.
  tk2XformCalib2 edgeOn;
  edgeOn.init(scenes::intrinsicFor(Defs::eTelecentric), tkCalib2ParamsExtrinsic());
  edgeOn.extrinsicXform(tkXform<3>(lookAlongX, tkVector<3>()));
  EXPECT_FALSE(finite(edgeOn.mapPoint({320.0, 240.0})));
  // Far outside any radius the sine-tangent lens reaches below 90 degrees.
  EXPECT_THROW(cameraAbovePlate(Defs::eSineTan).mapPoint({1e9, 1e9}), tkProcedureFailure);
}

TEST(Calib2Rejects, ParametersThatDescribeNoCamera) {
  const tkVector<2> s(800, 800), t(320, 240);
  auto intrinsic = [&](Defs::tkCalib2DistortionModel model, std::vector<double> list) {
    return [=] { tkCalib2ParamsIntrinsic(s, 0, t, model, list); };
  };
  const std::function<void()> invariants[] = {
      intrinsic(Defs::eRadial, {0.1, 0.0}),  // lists that do not fit the model
      intrinsic(Defs::eSineTan, {1, 1, 1, 1}),
      intrinsic(Defs::eNoDistortion, {0.1}),
      intrinsic(Defs::eTelecentric, {0.0, 0.0, 0.0}),
      intrinsic(static_cast<Defs::tkCalib2DistortionModel>(3), {}),
      intrinsic(Defs::eSineTan, {1, 0, 1, 1, 0, 0}),
      intrinsic(Defs::eRadial, {kNaN, 0, 0}),
      [&] {
        tkCalib2ParamsIntrinsic({800, kNaN}, 0, t, Defs::eNoDistortion, {});
      },
      [] { tkCalib2ParamsExtrinsic(tk3AngleVect(kNaN, 0, 0), tkVector<3>()); },
      [] { tkCalib2ParamsExtrinsic(tk3AngleVect(), tkVector<3>(0, 0, kNaN)); }};
  for (const auto& make : invariants)
    EXPECT_THROW(make(), tkInvariantFailure);
  EXPECT_THROW(tkCalib2ParamsIntrinsic({800, 0}, 0, t, Defs::eNoDistortion, {}),
               tkMathError::Singular);
  EXPECT_THROW(tkCalib2ParamsIntrinsic({1e-20, 800}, 1.0, t, Defs::eNoDistortion, {}),
               tkMathError::Singular);
}

TEST(Calib2Rejects, PosesThatAreNoRotationAndMalformedRecords) {
  tk2XformCalib2 xform = cameraAbovePlate(Defs::eRadial);
  const tk2XformCalib2 before = xform;
  for (const tkXform<3>& notRigid :
       {tkXform<3>(tkMatrix<3>::identity() * 2.0, tkVector<3>()),
        tkXform<3>(tkMatrix<3>(1, 0, 0, 0, 1, 0, 0, 0, -1), {}),  // a reflection
        tkXform<3>(tkMatrix<3>::identity(), {0, kNaN, 0})})
    EXPECT_THROW(xform.extrinsicXform(notRigid), tkInvariantFailure);
  EXPECT_TRUE(xform == before);

  const std::function<void(ccal_xformCalib2&)> invariants[] = {
      [](ccal_xformCalib2& r) { r.distortionParamCount = 2; },
      [](ccal_xformCalib2& r) { r.distortionParamCount = 99; },
      [](ccal_xformCalib2& r) { r.imageFromDistorted.matrix[1][0] = 0.5; },
      [](ccal_xformCalib2& r) { r.cameraFromWorld.matrix[0][1] += 1e-6; }};
  for (const auto& spoil : invariants) {
    ccal_xformCalib2 record = before.data();
    spoil(record);
    EXPECT_THROW(tk2XformCalib2{record}, tkInvariantFailure);
  }
  ccal_xformCalib2 record = before.data();
  record.imageFromDistorted.matrix[1][1] = 0.0;
  EXPECT_THROW(tk2XformCalib2{record}, tkMathError::Singular);
  EXPECT_TRUE(tk2XformCalib2(before.data()) == before);
}
