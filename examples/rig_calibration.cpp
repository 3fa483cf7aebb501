// Calibrates a rig of two cameras jointly from plate placements, then estimates the rig's poses
// again with the intrinsic models known (rig pose estimation).
//
// Placements: the first is a Z-rotation placement (the plate lies flat at a known height, here
// 0, and defines the world frame); the others are arbitrary poses. Every placement holds one
// list per camera: pairs (image point in pixels, plate point (X, Y, 0) in plate units).
#include <ccal/ccal.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Image of a plate point seen by a camera (intrinsic part k, world -> camera pose) when the
// plate has the pose plateToWorld.
tkVector<2> project(const tkCalib2ParamsIntrinsic& k, const tkXform<3>& cameraFromWorld,
                    const tkXform<3>& plateToWorld, const tkVector<2>& plate) {
  tk2XformCalib2 camera;
  camera.init(k, tkCalib2ParamsExtrinsic());
  camera.extrinsicXform(cameraFromWorld * plateToWorld);
  return camera.invMapPoint(plate);
}

}  // namespace

int main() {
  const tkCalib2ParamsIntrinsic left(tkVector<2>(900, 900), 0.0, tkVector<2>(640, 480),
                                     tk2XformCalib2Defs::eRadial, {-0.04, 0.0, 0.0});
  const tkCalib2ParamsIntrinsic right(tkVector<2>(950, 950), 0.0, tkVector<2>(620, 500),
                                      tk2XformCalib2Defs::eRadial, {-0.03, 0.0, 0.0});
  // World -> camera: both look down at the plate from 400 units, 60 units apart.
  const tkXform<3> leftPose =
      tkCalib2ParamsExtrinsic(tk3AngleVect(3.1, 0.05, 0.0), tkVector<3>(-40, 30, 400)).xform();
  const tkXform<3> rightPose =
      tkCalib2ParamsExtrinsic(tk3AngleVect(3.1, -0.10, 0.02), tkVector<3>(-100, 30, 405)).xform();

  tkMulticameraZRotationPlacements zRotation;
  tkMulticameraArbitraryPlacements arbitrary;
  for (int j = 0; j < 6; ++j) {
    // Placement 0 lies flat at height 0; the others are tilted and shifted.
    const tkXform<3> plateToWorld =
        j == 0
            ? tkXform<3>()
            : tkCalib2ParamsExtrinsic(tk3AngleVect(0.2 * std::sin(j), 0.2 * std::cos(j), 0.3 * j),
                                      tkVector<3>(5.0 * j, -3.0 * j, 10.0 * j))
                  .xform();
    std::vector<tkMulticameraCrspList> lists(2);
    for (int row = 0; row < 9; ++row)
      for (int col = 0; col < 12; ++col) {
        const tkVector<2> plate(10.0 * col, 10.0 * row);
        lists[0].emplace_back(project(left, leftPose, plateToWorld, plate),
                              tkVector<3>(plate.x(), plate.y(), 0.0));
        lists[1].emplace_back(project(right, rightPose, plateToWorld, plate),
                              tkVector<3>(plate.x(), plate.y(), 0.0));
      }
    if (j == 0)
      zRotation.emplace_back(lists, 0.0);  // (lists per camera, height)
    else
      arbitrary.push_back(lists);
  }

  // Joint calibration: intrinsic models, camera poses and placement poses in one world frame.
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rig;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(tk2XformCalib2Defs::eRadial, zRotation,
                                                        arbitrary, rig);
  std::vector<tk2XformCalib2> cameras;  // one calibrated transform per camera
  tfConvert(rig, cameras);
  for (size_t c = 0; c < cameras.size(); ++c) {
    const tkCalib2ParamsIntrinsic k = cameras[c].intrinsicParams();
    std::printf("camera %zu: fx %.3f fy %.3f cx %.3f cy %.3f\n", c, k.scale().x(), k.scale().y(),
                k.translation().x(), k.translation().y());
  }

  // Rig pose estimation: the intrinsic models are known, only the poses are estimated.
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams posed;
  tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(rig.physicalAtZEquals1FromImageParams(),
                                                         zRotation, arbitrary, posed);
  const tkVector<3> t = posed.cameraPoseInverses()[1].trans();
  std::printf("right camera, world -> camera translation (%.3f, %.3f, %.3f)\n", t.x(), t.y(),
              t.z());
  return std::fabs(cameras[0].intrinsicParams().scale().x() - 900.0) < 1e-3 ? 0 : 1;
}
