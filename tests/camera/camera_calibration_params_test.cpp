#include <ccal/camera_calibration_params.h>
#include <gtest/gtest.h>
#include <tk/quaternion_xform.h>
#include <tk/xform_calib2.h>

#include "camera/scene_models.h"
#include "support/geometry_expect.h"

#include <cmath>

namespace {

using Defs = tk2XformCalib2Defs;

TEST(CameraParams, PlatePointsAndTheConvertedTransformMapAsTheCameraUnderEveryModel) {
  for (scenes::Model m : scenes::areaScanModels()) {
    const tkCameraCalibrationParams camera = sceneCamera(m);
    tk2XformCalib2 xform;
    tfConvert(camera, xform);
    EXPECT_EQ(xform.intrinsicParams().distortionModel(), m);
    EXPECT_TRUE(XformsNear(xform.extrinsicXform(), scenes::cameraAbovePlate(), 1e-14));
    for (const tkVector<2>& plate : scenes::plateGrid()) {
      const tkVector<3> P(plate.x(), plate.y(), 0.0);
      const tkVector<2> image = camera.invWarpPoint(P);
      EXPECT_TRUE(VectorsNear(camera.warpPointToZeroPlane(image), P, 1e-9)) << "model " << m;
      EXPECT_TRUE(VectorsNear(xform.invMapPoint(plate), image, 1e-9)) << "model " << m;
      EXPECT_TRUE(VectorsNear(xform.mapPoint(image), plate, 1e-9)) << "model " << m;
    }
  }
  // A point in the camera's focal plane has no image.
  const tkVector<2> image = tkCameraCalibrationParams().invWarpPoint({1.0, 1.0, 0.0});
  EXPECT_FALSE(std::isfinite(image.x()) && std::isfinite(image.y()));
}

// The worked example of docs/camera-model.md: a 1280x960 camera with f = 1000 pixels and barrel
// distortion k = 0.1, 500 units above the plate, looking straight down.
TEST(CameraParams, DocumentedWorkedExample) {
  tkCameraCalibrationParams camera;
  camera.physicalAtZEquals1FromImageParams(tkPhysicalAtZEquals1FromImageParams(
      tk2XformLinear(tkMatrix<2>(0.001, 0.0, 0.0, 0.001), {-0.64, -0.48}), 0.1, {0.0, 0.0},
      Defs::eRadial));
  // Half a turn about X: camera x = plate x, camera y = -plate y, camera z = -plate z.
  camera.cameraPoseInverse(tk3QuaternionXform(tk3Quaternion(0, 1, 0, 0), {-50.0, 30.0, 500.0}));

  const tkVector<3> plate(100.0, 50.0, 0.0);
  const tkVector<2> image = camera.invWarpPoint(plate);
  EXPECT_TRUE(VectorsNear(image, tkVector<2>(739.8844018168263, 440.0462392732695), 1e-9));
  EXPECT_TRUE(VectorsNear(camera.warpPointToZeroPlane(image), plate, 1e-10));

  tk2XformCalib2 xform;
  tfConvert(camera, xform);
  const ccal_xformCalib2& record = xform.data();
  EXPECT_NEAR(record.imageFromDistorted.matrix[0][0], 1000.0, 1e-9);
  EXPECT_NEAR(record.imageFromDistorted.trans.x, 640.0, 1e-9);
  EXPECT_NEAR(record.imageFromDistorted.trans.y, 480.0, 1e-9);
  EXPECT_EQ(record.distortionParams[0], 0.1);
  EXPECT_TRUE(VectorsNear(xform.invMapPoint({100.0, 50.0}), image, 1e-9));
}

}  // namespace
