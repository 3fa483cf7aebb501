// The scene cameras of support/camera_scenes.h as intrinsic models and as whole cameras.
#ifndef CCAL_TESTS_CAMERA_SCENE_MODELS_H
#define CCAL_TESTS_CAMERA_SCENE_MODELS_H

#include <ccal/camera_calibration_params.h>
#include <tk/quaternion_xform.h>

#include "support/camera_scenes.h"

// The scene camera of the given model as an intrinsic model (L = K^-1).
inline tkPhysicalAtZEquals1FromImageParams sceneModel(scenes::Model model) {
  const tkCalib2ParamsIntrinsic K = scenes::intrinsicFor(model);
  const std::vector<double>& list = K.params();
  const size_t n = list.size();
  const tkVector<2> centre = n > 0 ? tkVector<2>(list[n - 2], list[n - 1]) : tkVector<2>();
  const std::vector<double> lens(list.begin(), list.begin() + (n > 0 ? n - 2 : 0));
  return tkPhysicalAtZEquals1FromImageParams(K.imageFromDistorted().inverse(), centre, model, lens);
}

// The scene camera of the given model above the plate.
inline tkCameraCalibrationParams sceneCamera(scenes::Model model) {
  tkCameraCalibrationParams camera;
  camera.physicalAtZEquals1FromImageParams(sceneModel(model));
  camera.cameraPoseInverse(tk3QuaternionXform(scenes::cameraAbovePlate()));
  return camera;
}

#endif
