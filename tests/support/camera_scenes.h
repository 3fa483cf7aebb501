// Synthetic cameras for the camera-model tests: one camera matrix and lens per model, a camera
// pose above a plate, and a grid of plate points that the camera sees.
#ifndef CCAL_TESTS_SUPPORT_CAMERA_SCENES_H
#define CCAL_TESTS_SUPPORT_CAMERA_SCENES_H

#include <tk/angle_vect.h>
#include <tk/calib2_params.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <vector>

namespace scenes {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

// Lens lists with monotonic mappings over the normalised field |q| <= 0.6.
inline std::vector<double> radialList() {
  return {0.08, 0.01, -0.02};  // k, cx, cy
}
inline std::vector<double> sineTanList() {
  return {0.4, 1.1, 0.6, 0.9, 0.03, 0.01};  // p0..p3, cx, cy
}

// A 640x480 camera (pixels from the distorted normalised plane) with the given model. The
// telecentric camera images 20 pixels per plate unit instead.
inline tkCalib2ParamsIntrinsic intrinsicFor(Model model) {
  switch (model) {
    case tk2XformCalib2Defs::eRadial:
      return tkCalib2ParamsIntrinsic({800.0, 790.0}, 0.4, {320.0, 240.0}, model, radialList());
    case tk2XformCalib2Defs::eSineTan:
      return tkCalib2ParamsIntrinsic({800.0, 790.0}, 0.4, {320.0, 240.0}, model, sineTanList());
    case tk2XformCalib2Defs::eTelecentric:
      return tkCalib2ParamsIntrinsic({20.0, 20.5}, 0.1, {320.0, 240.0}, model, {});
    default:
      return tkCalib2ParamsIntrinsic({800.0, 790.0}, 0.4, {320.0, 240.0}, model, {});
  }
}

inline std::vector<Model> areaScanModels() {
  return {tk2XformCalib2Defs::eNoDistortion, tk2XformCalib2Defs::eRadial,
          tk2XformCalib2Defs::eSineTan};
}

// World -> camera: the camera looks down at the plate from a height of about 500 plate units,
// tilted by a few degrees; plate points with |x|, |y| <= 100 lie at depths 470..530.
inline tkXform<3> cameraAbovePlate() {
  const tk3AngleVect angles(3.141592653589793 - 0.2, 0.1, 0.3);
  return tkXform<3>(angles.matrix(), tkVector<3>(-10.0, 20.0, 500.0));
}

// A 9x9 grid over [-100, 100]^2 of the plate plane Z = 0.
inline std::vector<tkVector<2>> plateGrid() {
  std::vector<tkVector<2>> points;
  for (int i = -4; i <= 4; ++i)
    for (int j = -4; j <= 4; ++j)
      points.emplace_back(25.0 * i, 25.0 * j);
  return points;
}

}  // namespace scenes

#endif
